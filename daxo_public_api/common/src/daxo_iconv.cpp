// The process-wide converter set behind DAXOIconv.
//
// The set is built on first use and never destroyed: threads that outlive
// main (detached component threads) may still convert during exit.
//
// Each handle is named after the direction it converts and each facade
// function uses the handle its own name gives (UTF8ToLocale: UTF-8 -> locale
// and so on).
//
// Wide text is converted as UTF-32 in native byte order. The plain "UTF-32"
// name would make iconv prepend a byte-order mark to every result.
#include "daxo_iconv.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "daxo_mutex.h"

struct DAXOIconvHandle {
  explicit DAXOIconvHandle(iconv_t c) : cd(c) {}
  iconv_t cd;
  DAXOMutex mutex;  // serialises use of cd, which carries shift state
};

namespace {

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr const char* kWideCharset = "UTF-32LE";
#else
constexpr const char* kWideCharset = "UTF-32BE";
#endif
static_assert(sizeof(wchar_t) == 4, "wide text is converted as UTF-32");

// Zero bytes written after every result: enough to end it as char or wchar_t
// text whatever the input carried.
constexpr size_t kTerminatorBytes = sizeof(wchar_t);

class DAXOIconvImplementation {
 public:
  static DAXOIconvImplementation& Instance() {
    // Function-local static: the C++ runtime runs the constructor exactly once
    // even when several threads race to the first conversion. An object, not
    // a leaked pointer: in a package it is destroyed when the library is
    // closed (a pointer would leak at every unload).
    static DAXOIconvImplementation instance;
    return instance;
  }
  ~DAXOIconvImplementation() {
    for (DAXOIconvHandle** handle : {&localeToUtf8, &utf8ToLocale, &wideToUtf8, &utf8ToWide}) {
      DAXOIconv::close(*handle);
      *handle = nullptr;
    }
  }
  DAXOIconvImplementation(const DAXOIconvImplementation&) = delete;
  DAXOIconvImplementation& operator=(const DAXOIconvImplementation&) = delete;

  DAXOMutex mutex;
  char localeCharset[64] = {0};  // written once in the constructor
  DAXOIconvHandle* localeToUtf8 = nullptr;
  DAXOIconvHandle* utf8ToLocale = nullptr;
  DAXOIconvHandle* wideToUtf8 = nullptr;
  DAXOIconvHandle* utf8ToWide = nullptr;

 private:
  DAXOIconvImplementation() {
    // Process-wide side effect, done once: the locale decides the character
    // set of paths and terminal text; numbers stay in the "C" form.
    setlocale(LC_ALL, "");
    setlocale(LC_NUMERIC, "C");
    snprintf(localeCharset, sizeof localeCharset, "%s", nl_langinfo(CODESET));
    localeToUtf8 = DAXOIconv::open(localeCharset, "UTF-8");
    utf8ToLocale = DAXOIconv::open("UTF-8", localeCharset);
    wideToUtf8 = DAXOIconv::open(kWideCharset, "UTF-8");
    utf8ToWide = DAXOIconv::open("UTF-8", kWideCharset);
  }
};

DAXOIconvImplementation& Impl() {
  return DAXOIconvImplementation::Instance();
}

// Runs one conversion into a buffer of `capacity` bytes (plus terminator).
// Returns the buffer, or null with errno set (E2BIG: buffer too small).
char* ConvertOnce(iconv_t cd, const char* input, size_t length, size_t capacity) {
  char* out = static_cast<char*>(std::malloc(capacity + kTerminatorBytes));
  if (out == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial shift state
  char* in = const_cast<char*>(input);
  size_t inLeft = length;
  char* o = out;
  size_t outLeft = capacity;
  bool ok = iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<size_t>(-1);
  // Stateful targets may still owe a closing shift sequence.
  if (ok) ok = iconv(cd, nullptr, nullptr, &o, &outLeft) != static_cast<size_t>(-1);
  if (!ok) {
    const int saved = errno;
    std::free(out);
    errno = saved;
    return nullptr;
  }
  std::memset(o, 0, kTerminatorBytes);
  return out;
}

char* ConvertText(DAXOIconvHandle* handle, const char* text) {
  if (text == nullptr) return nullptr;
  return DAXOIconv::convert(handle, text, std::strlen(text) + 1);
}

bool FillString(char* utf8, DAXOString& out) {
  out = "";
  if (utf8 == nullptr) return false;
  out = utf8;
  DAXOIconv::releaseUTF8(utf8);
  return true;
}

}  // namespace

DAXOIconvHandle* DAXOIconv::open(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return nullptr;
  const iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
  return new DAXOIconvHandle(cd);
}

void DAXOIconv::close(DAXOIconvHandle* handle) {
  if (handle == nullptr) return;
  iconv_close(handle->cd);
  delete handle;
}

char* DAXOIconv::convert(DAXOIconvHandle* handle, const char* input, unsigned long length) {
  if (handle == nullptr || input == nullptr) return nullptr;
  DAXOIconvImplementation& impl = Impl();
  DAXOMutexGuard handleLock(handle->mutex);
  DAXOMutexGuard implLock(impl.mutex);
  // Start as large as the input and double until the output fits: most
  // conversions fit at once, and a retry restarts from a clean state.
  size_t capacity = length > 0 ? length : 1;
  for (;;) {
    char* out = ConvertOnce(handle->cd, input, length, capacity);
    if (out != nullptr) return out;
    if (errno != E2BIG || capacity > (SIZE_MAX - kTerminatorBytes) / 2) return nullptr;
    capacity *= 2;
  }
}

char* DAXOIconv::localeToUTF8(const char* text) {
  return ConvertText(Impl().localeToUtf8, text);
}

bool DAXOIconv::localeToUTF8(const char* text, DAXOString& out) {
  return FillString(localeToUTF8(text), out);
}

char* DAXOIconv::UTF8ToLocale(const char* text) {
  return ConvertText(Impl().utf8ToLocale, text);
}

char* DAXOIconv::wideToUTF8(const wchar_t* text) {
  if (text == nullptr) return nullptr;
  return convert(Impl().wideToUtf8, reinterpret_cast<const char*>(text),
                 (std::wcslen(text) + 1) * sizeof(wchar_t));
}

bool DAXOIconv::wideToUTF8(const wchar_t* text, DAXOString& out) {
  return FillString(wideToUTF8(text), out);
}

wchar_t* DAXOIconv::UTF8ToWide(const char* text) {
  // malloc'd storage: the wide characters written into it by iconv are valid
  // wchar_t objects for the caller.
  return reinterpret_cast<wchar_t*>(ConvertText(Impl().utf8ToWide, text));
}

void DAXOIconv::releaseLocale(char* text) {
  std::free(text);
}
void DAXOIconv::releaseUTF8(char* text) {
  std::free(text);
}
void DAXOIconv::releaseWide(wchar_t* text) {
  std::free(text);
}

int DAXOIconv::NbColumns(const DAXOString& text) {
  wchar_t* wide = UTF8ToWide(text);
  if (wide == nullptr) return -1;
  const int n = static_cast<int>(std::wcslen(wide));
  releaseWide(wide);
  return n;
}

bool DAXOIconv::isLocaleUTF8() {
  const char* name = Impl().localeCharset;
  return strcasestr(name, "utf8") != nullptr || strcasestr(name, "utf-8") != nullptr;
}
