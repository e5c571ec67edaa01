// Export marker of the engine's public API. The project compiles with hidden
// visibility: exactly what carries VELQUOR_API leaves libvelquor.so.
#pragma once

#define VELQUOR_API __attribute__((visibility("default")))
