// DAXOGenericComponentsHelper: operations for components that handle samples
// of a type they do not know in advance: imitate an incoming sample's type
// and buffer shape on an output, copy, clear or compare samples of any type,
// reset an output to "any type", and resolve a property named relative to
// the component's place in a "::"-separated hierarchy of names.
//
// Structured payloads (matrix, IplImage, DAXOImage, audio signal, 3-D
// triangles) are a record at Data() pointing to buffers; every other type
// whose used size the element reports as a plain array is "contiguous".
//
// Threading: no state. Each call touches only its arguments; the caller must
// own the elements it writes (the writer between StartWriting and
// StopWriting) and may only read elements it holds as a reader. Output
// operations run while the owning component is not producing (Birth, or
// Core before the first write), as output allocation requires.
#pragma once

#include "daxo_string.h"

class DAXOIOElt;
class DAXOOutput;
class DAXOProperty;

class DAXOGenericComponentsHelper {
 public:
  DAXOGenericComponentsHelper() = delete;

  /// Copies `in` into `out`: the meta information (buffer and vector sizes,
  /// timestamp, frequency, quality, misc 1-3, type value, unit and name),
  /// then, unless `meta_info_only`, the content. Structured records are
  /// copied with `out` keeping its own buffer addresses; an IplImage's
  /// region of interest is copied even with `meta_info_only`. An ASCII text
  /// shorter than its buffer gets a terminating zero. Returns 0; -1 when an
  /// element is missing, the type is neither contiguous nor a known
  /// structure, a structured element has no record, or the sample does not
  /// fit `out` (its buffer size, or the content, exceeds `out`'s buffer) -
  /// in the last two cases `out` is left unchanged.
  static int CopyIOEltContent(DAXOIOElt* out, DAXOIOElt* in, bool meta_info_only);

  /// Clears the content of `out` (contiguous bytes over the used size;
  /// structured: buffers over their recorded sizes, bounded by the buffer,
  /// an IplImage's region of interest reset to the whole image, a 3-D
  /// record's counts). 0, or -1 as CopyIOEltContent.
  static int ZeroIOEltContent(DAXOIOElt* out);

  /// True when `out` and `in` have the same type value (the vector flag
  /// aside), the same type name for DAXO::Structure, and the same buffer
  /// size. Otherwise false, with the reason appended to `errorMessage` when
  /// it is given.
  static bool CheckIOEltsCompatibility(DAXOIOElt* out, DAXOIOElt* in,
                                       DAXOStreamedString* errorMessage = nullptr);

  /// Gives `output` the type of `model_in` and allocates its buffer for
  /// samples shaped like it (images, matrices and audio by their records,
  /// everything else by BufferSize()). Returns `model_in`'s buffer size, 0
  /// when an argument is missing or a structured model has no record.
  /// Allocation failures are the output's (they throw DAXO::ErrorException).
  static int AllocOutputBuffer(DAXOOutput* output, DAXOIOElt* model_in);

  /// Sets `output`'s type to DAXO::AnyType without unit or name.
  static void ResetOutputType(DAXOOutput* output);

  /// The full name of the property `propertyName` seen from the component
  /// `componentName`: relative to the level that contains the component,
  /// each leading "..::" climbing one level. A component name without ':'
  /// gives `propertyName` unchanged. `ok` is false, an empty name is
  /// returned and "The property name contains too many occurrences of
  /// '..::'" is appended to `message` when the climb leaves the hierarchy.
  static DAXOString GetPropertyFullName(DAXOString componentName, DAXOString propertyName, bool& ok,
                                        DAXOStreamedString& message);

  /// The engine's property of that full name, or null (name not resolved,
  /// or no such property).
  static DAXOProperty* GetPropertyFromShortName(const DAXOString& componentName,
                                                const DAXOString& propertyName,
                                                DAXOStreamedString& message);
};
