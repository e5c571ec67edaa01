// DAXOGenericComponentsHelper: copy, clear, compare and allocate samples of
// any type; relative property names.
#include "daxo_generic_components_helper.h"

#include <cstring>

#include "daxo_io.h"
#include "daxo_io_elt.h"
#include "daxo_module.h"
#include "daxo_type_filter.h"

namespace {

enum class Kind { None, Matrix, IplImage, DAXOImage, Audio, Triangles };

/// The structured payload of `type`, by the first filter it passes.
Kind StructureOf(const DAXOTypeInfo& type) {
  if (DAXO::TypeFilter(type, DAXO::FilterMatrix)) return Kind::Matrix;
  if (DAXO::TypeFilter(type, DAXO::FilterIplImage)) return Kind::IplImage;
  if (DAXO::TypeFilter(type, DAXO::FilterDAXOImage)) return Kind::DAXOImage;
  if (DAXO::TypeFilter(type, DAXO::FilterAudioSignal)) return Kind::Audio;
  if (DAXO::TypeFilter(type, DAXO::FilterTriangles3D)) return Kind::Triangles;
  return Kind::None;
}

template <class Record>
Record* RecordOf(DAXOIOElt* e) {
  return static_cast<Record*>(e->Data());
}

/// Variable-part units a structured element's record says are in use
/// (matrix cells, image or sound bytes, 3-D entries); -1 when the record is
/// inconsistent (negative sizes).
long UsedUnits(Kind kind, DAXOIOElt* e) {
  switch (kind) {
    case Kind::Matrix: {
      const DAXOMatrix* m = RecordOf<DAXOMatrix>(e);
      if (m->nbRows < 0 || m->nbColumns < 0) return -1;
      return static_cast<long>(m->nbRows) * m->nbColumns;
    }
    case Kind::IplImage:
      return RecordOf<IplImage>(e)->imageSize;
    case Kind::DAXOImage:
      return RecordOf<DAXOImage>(e)->imageSize;
    case Kind::Audio:
      return RecordOf<DAXOAudioSignal>(e)->streamSizeInBytes;
    case Kind::Triangles:
      return e->VectorSize();
    case Kind::None:
      break;
  }
  return -1;
}

void CopyMeta(DAXOIOElt* out, DAXOIOElt* in) {
  out->BufferSize() = in->BufferSize();
  out->VectorSize() = in->VectorSize();
  out->Timestamp() = in->Timestamp();
  out->Frequency() = in->Frequency();
  out->Quality() = in->Quality();
  out->Misc1() = in->Misc1();
  out->Misc2() = in->Misc2();
  out->Misc3() = in->Misc3();
  // Value, unit and name; an absent unit or name of `in` becomes absent.
  out->Type() = in->Type();
}

void CopyBytes(void* to, const void* from, long bytes) {
  if (to != nullptr && from != nullptr && bytes > 0 && to != from) {
    std::memmove(to, from, static_cast<size_t>(bytes));
  }
}

void ZeroBytes(void* to, long bytes) {
  if (to != nullptr && bytes > 0) std::memset(to, 0, static_cast<size_t>(bytes));
}

// Copies the structured record of `in` over `out`'s, keeping `out`'s buffer
// addresses, then (unless metaOnly) the buffers both have, sized from the
// record now in `out`.
void CopyStructure(Kind kind, DAXOIOElt* out, DAXOIOElt* in, bool metaOnly) {
  const long units = UsedUnits(kind, in);
  switch (kind) {
    case Kind::Matrix: {
      auto* o = RecordOf<DAXOMatrix>(out);
      const auto* i = RecordOf<DAXOMatrix>(in);
      double* real = o->real;
      double* imaginary = o->imaginary;
      *o = *i;
      o->real = real;
      o->imaginary = imaginary;
      if (metaOnly) return;
      CopyBytes(real, i->real, units * 8);
      CopyBytes(imaginary, i->imaginary, units * 8);
      return;
    }
    case Kind::IplImage: {
      auto* o = RecordOf<IplImage>(out);
      const auto* i = RecordOf<IplImage>(in);
      IplROI* roi = o->roi;
      char* data = o->imageData;
      char* origin = o->imageDataOrigin;
      *o = *i;
      o->roi = roi;
      o->imageData = data;
      o->imageDataOrigin = origin;
      // The region of interest describes the image, so it goes with the
      // meta information.
      if (roi != nullptr && i->roi != nullptr && roi != i->roi) *roi = *i->roi;
      if (metaOnly) return;
      CopyBytes(data, i->imageData, units);
      return;
    }
    case Kind::DAXOImage: {
      auto* o = RecordOf<DAXOImage>(out);
      const auto* i = RecordOf<DAXOImage>(in);
      char* data = o->imageData;
      *o = *i;
      o->imageData = data;
      if (metaOnly) return;
      CopyBytes(data, i->imageData, units);
      return;
    }
    case Kind::Audio: {
      auto* o = RecordOf<DAXOAudioSignal>(out);
      const auto* i = RecordOf<DAXOAudioSignal>(in);
      void* data = o->streamData;
      *o = *i;
      o->streamData = data;
      if (metaOnly) return;
      CopyBytes(data, i->streamData, units);
      return;
    }
    case Kind::Triangles: {
      auto* o = RecordOf<DAXOTriangles3D>(out);
      const auto* i = RecordOf<DAXOTriangles3D>(in);
      DAXOObject3D* objects = o->objects;
      DAXOPoint3D* points = o->points;
      DAXOTriangle3D* triangles = o->triangles;
      *o = *i;
      o->objects = objects;
      o->points = points;
      o->triangles = triangles;
      if (metaOnly) return;
      CopyBytes(objects, i->objects, units * static_cast<long>(sizeof(DAXOObject3D)));
      CopyBytes(points, i->points, units * static_cast<long>(sizeof(DAXOPoint3D)));
      CopyBytes(triangles, i->triangles, units * static_cast<long>(sizeof(DAXOTriangle3D)));
      return;
    }
    case Kind::None:
      return;
  }
}

const char* TextOf(const DAXOString* s) {
  return s != nullptr ? static_cast<const char*>(*s) : "";
}

/// `name` without its last "::"-separated level (cut at the character
/// before its last ':'); empty when it has no ':'.
DAXOString DropLastLevel(const DAXOString& name) {
  int colon = -1;
  if (!name.ReverseFind(':', colon) || colon < 1) return DAXOString();
  return name.Left(colon - 1);
}

}  // namespace

int DAXOGenericComponentsHelper::CopyIOEltContent(DAXOIOElt* out, DAXOIOElt* in,
                                                  bool meta_info_only) {
  if (out == nullptr || in == nullptr) return -1;
  bool contiguous = false;
  const int used = in->IOEltUsedSizeInBytes(&contiguous);

  // Every check comes before the first write, so that a refused copy leaves
  // `out` as it was. The copy also takes `in`'s buffer size, so a sample
  // declaring more room than `out`'s buffer has is refused: `out` would
  // otherwise claim memory it does not own for every later use of its slot.
  const int outCapacity = out->IOEltBufferSizeInBytes(nullptr);
  const bool outHasData = out->Data() != nullptr;
  if (contiguous) {
    if (outHasData && in->IOEltBufferSizeInBytes(nullptr) > outCapacity) return -1;
    if (!meta_info_only && used > 0 &&
        (!outHasData || used > outCapacity || used > in->IOEltBufferSizeInBytes(nullptr))) {
      return -1;
    }
    CopyMeta(out, in);
    if (meta_info_only) return 0;
    CopyBytes(out->Data(), in->Data(), used);
    if (DAXO::TypeFilter(out->Type(), DAXO::FilterTextAscii) &&
        out->VectorSize() < out->BufferSize() && out->VectorSize() >= 0 &&
        out->VectorSize() < outCapacity) {
      static_cast<char*>(out->Data())[out->VectorSize()] = '\0';
    }
    return 0;
  }

  const Kind kind = StructureOf(in->Type());
  if (kind == Kind::None) {
    CopyMeta(out, in);
    return -1;
  }
  // The record at out's Data() is overwritten as a record of in's kind: it
  // must be one, with buffers sized by out's buffer size.
  if (!outHasData || in->Data() == nullptr || StructureOf(out->Type()) != kind ||
      in->BufferSize() > out->BufferSize()) {
    return -1;
  }
  if (!meta_info_only) {
    const long units = UsedUnits(kind, in);
    if (units < 0 || units > in->BufferSize()) return -1;
  }
  CopyMeta(out, in);
  CopyStructure(kind, out, in, meta_info_only);
  return 0;
}

int DAXOGenericComponentsHelper::ZeroIOEltContent(DAXOIOElt* out) {
  if (out == nullptr) return -1;
  bool contiguous = false;
  const int used = out->IOEltUsedSizeInBytes(&contiguous);
  if (contiguous) {
    const int capacity = out->IOEltBufferSizeInBytes(nullptr);
    ZeroBytes(out->Data(), used < capacity ? used : capacity);
    return 0;
  }
  const Kind kind = StructureOf(out->Type());
  if (kind == Kind::None || out->Data() == nullptr) return -1;
  // Recorded sizes are bounded by the buffer the element owns.
  long units = UsedUnits(kind, out);
  if (units < 0) units = 0;
  if (units > out->BufferSize()) units = out->BufferSize() > 0 ? out->BufferSize() : 0;
  switch (kind) {
    case Kind::Matrix: {
      DAXOMatrix* m = RecordOf<DAXOMatrix>(out);
      ZeroBytes(m->real, units * 8);
      ZeroBytes(m->imaginary, units * 8);
      break;
    }
    case Kind::IplImage: {
      IplImage* image = RecordOf<IplImage>(out);
      if (image->roi != nullptr) *image->roi = IplROI{0, 0, 0, image->width, image->height};
      ZeroBytes(image->imageData, units);
      break;
    }
    case Kind::DAXOImage:
      ZeroBytes(RecordOf<DAXOImage>(out)->imageData, units);
      break;
    case Kind::Audio:
      ZeroBytes(RecordOf<DAXOAudioSignal>(out)->streamData, units);
      break;
    case Kind::Triangles: {
      DAXOTriangles3D* t = RecordOf<DAXOTriangles3D>(out);
      *t = DAXOTriangles3D{0, t->objects, 0, t->points, 0, t->triangles};
      ZeroBytes(t->objects, units * static_cast<long>(sizeof(DAXOObject3D)));
      ZeroBytes(t->points, units * static_cast<long>(sizeof(DAXOPoint3D)));
      ZeroBytes(t->triangles, units * static_cast<long>(sizeof(DAXOTriangle3D)));
      break;
    }
    case Kind::None:
      break;
  }
  return 0;
}

bool DAXOGenericComponentsHelper::CheckIOEltsCompatibility(DAXOIOElt* out, DAXOIOElt* in,
                                                           DAXOStreamedString* errorMessage) {
  auto fail = [&](const DAXOString& text) {
    if (errorMessage != nullptr) *errorMessage << text;
    return false;
  };
  if (out == nullptr) return fail("out is NULL");
  if (in == nullptr) return fail("in is NULL");
  const DAXOTypeInfo& o = out->Type();
  const DAXOTypeInfo& i = in->Type();
  if ((o.value & ~DAXO::VectorFlag) != (i.value & ~DAXO::VectorFlag)) {
    return fail("Type mismatch");
  }
  if (o.value == DAXO::Structure && o.name != i.name &&
      std::strcmp(TextOf(o.name), TextOf(i.name)) != 0) {
    DAXOStreamedString text("Structure type name mismatch between '");
    text << TextOf(o.name) << "' and '" << TextOf(i.name) << "'";
    return fail(text);
  }
  if (out->BufferSize() != in->BufferSize()) {
    DAXOStreamedString text("Buffersize mismatch between ");
    text << out->BufferSize() << " and " << in->BufferSize();
    return fail(text);
  }
  return true;
}

int DAXOGenericComponentsHelper::AllocOutputBuffer(DAXOOutput* output, DAXOIOElt* model_in) {
  if (output == nullptr || model_in == nullptr) return 0;
  const DAXOTypeInfo& type = model_in->Type();
  const bool image = DAXO::TypeFilter(type, DAXO::FilterIplImage);
  const bool daxoImage = !image && DAXO::TypeFilter(type, DAXO::FilterDAXOImage);
  const bool matrix = !image && !daxoImage && DAXO::TypeFilter(type, DAXO::FilterMatrix);
  const bool audio =
      !image && !daxoImage && !matrix && DAXO::TypeFilter(type, DAXO::FilterAudioSignal);
  // The structured allocations read the model's record.
  if ((image || daxoImage || matrix || audio) && model_in->Data() == nullptr) return 0;

  output->SetTypeValue(type.value);
  output->SetTypeName(type.name != nullptr ? static_cast<const char*>(*type.name) : nullptr);
  output->SetTypeUnit(type.unit != nullptr ? static_cast<const char*>(*type.unit) : nullptr);
  if (image) {
    output->AllocOutputBufferIplImage(*RecordOf<IplImage>(model_in), false);
  } else if (daxoImage) {
    const DAXOImage* record = RecordOf<DAXOImage>(model_in);
    DAXOUInt32 coding = 0;
    DAXOUInt32 kind = 0;
    std::memcpy(&coding, record->imageCoding, sizeof(coding));
    std::memcpy(&kind, record->imageType, sizeof(kind));
    output->AllocOutputBufferDAXOImage(record->bufferSize, record->width, record->height, coding,
                                       kind, false);
  } else if (matrix) {
    const DAXOMatrix* record = RecordOf<DAXOMatrix>(model_in);
    output->AllocOutputBufferMatrix(record->nbRows, record->nbColumns);
  } else if (audio) {
    output->AllocOutputBufferAudioSignal(*RecordOf<DAXOAudioSignal>(model_in));
  } else {
    output->AllocOutputBuffer(model_in->BufferSize(), true);
  }
  return model_in->BufferSize();
}

void DAXOGenericComponentsHelper::ResetOutputType(DAXOOutput* output) {
  if (output == nullptr) return;
  output->SetTypeValue(DAXO::AnyType);
  output->SetTypeUnit(nullptr);
  output->SetTypeName(nullptr);
}

DAXOString DAXOGenericComponentsHelper::GetPropertyFullName(DAXOString componentName,
                                                            DAXOString propertyName, bool& ok,
                                                            DAXOStreamedString& message) {
  ok = false;
  int colon = -1;
  if (!componentName.Find(':', colon)) {
    ok = true;
    return propertyName;
  }
  componentName = DropLastLevel(componentName);
  while (propertyName.StartsWith("..::")) {
    if (componentName.Length() == 0) {
      message << "The property name contains too many occurrences of '..::'";
      return DAXOString();
    }
    componentName = DropLastLevel(componentName);
    propertyName = propertyName.Tail(4);
  }
  ok = true;
  if (componentName.Length() == 0) return propertyName;
  return componentName + "::" + propertyName;
}

DAXOProperty* DAXOGenericComponentsHelper::GetPropertyFromShortName(const DAXOString& componentName,
                                                                    const DAXOString& propertyName,
                                                                    DAXOStreamedString& message) {
  bool ok = false;
  const DAXOString fullName = GetPropertyFullName(componentName, propertyName, ok, message);
  return ok ? DAXO::Property(fullName) : nullptr;
}
