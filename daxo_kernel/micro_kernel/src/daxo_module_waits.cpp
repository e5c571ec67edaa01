// Engine-time waits of DAXOModule.
#include "daxo_module.h"
