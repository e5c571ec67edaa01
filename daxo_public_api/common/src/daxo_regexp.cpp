// DAXORegExp over libpcre; see daxo_regexp.h.
#include "daxo_regexp.h"

#include <pcre.h>

#include <cstring>

static_assert(DAXORegExp::OptCaseless == PCRE_CASELESS);

namespace {

// Offsets-vector sizes: the vector starts with 10 entries and grows by 10
// whenever PCRE reports it too small for all the groups.
constexpr int kInitialOffsets = 10;
constexpr int kOffsetsStep = 10;

}  // namespace

DAXObaseregexp::DAXObaseregexp() {
  offsets(kInitialOffsets - 1) = 0;
}

DAXObaseregexp::~DAXObaseregexp() {
  // No JIT compilation is ever requested, so the study block is one plain
  // allocation that pcre_free releases.
  if (study != nullptr) pcre_free(study);
  if (code != nullptr) pcre_free(code);
}

DAXORegExp::DAXORegExp() : base_(new DAXObaseregexp) {}

DAXORegExp::DAXORegExp(const char* pattern, int options) : base_(new DAXObaseregexp) {
  base_->options = options;
  Compile(pattern);
}

DAXORegExp::DAXORegExp(const DAXORegExp& other) : base_(other.base_) {
  ++base_->refCount;
}

DAXORegExp& DAXORegExp::operator=(const DAXORegExp& other) {
  // Take the new reference before dropping the old one: on self-assignment
  // (or two handles already sharing a base) the base must not die in between.
  DAXObaseregexp* shared = other.base_;
  ++shared->refCount;
  Release();
  base_ = shared;
  return *this;
}

DAXORegExp::~DAXORegExp() {
  Release();
}

void DAXORegExp::Release() {
  if (--base_->refCount == 0) delete base_;
  base_ = nullptr;
}

void DAXORegExp::SetOptions(int options) {
  base_->options = options;
}

void DAXORegExp::SetPattern(const char* pattern) {
  auto* fresh = new DAXObaseregexp;
  Release();
  base_ = fresh;
  Compile(pattern);
}

void DAXORegExp::Compile(const char* pattern) {
  if (pattern == nullptr) return;  // no pattern: Ok() stays false
  base_->code = pcre_compile(pattern, base_->options, &base_->error, &base_->errorOffset, nullptr);
  if (base_->code != nullptr) {
    base_->error = nullptr;
    base_->errorOffset = -1;
  }
}

void DAXORegExp::Study() {
  if (base_->code == nullptr) return;
  const char* error = nullptr;
  pcre_extra* study = pcre_study(base_->code, 0, &error);
  // A second study replaces the first instead of leaking it.
  if (base_->study != nullptr) pcre_free(base_->study);
  base_->study = study;
}

bool DAXORegExp::Match(const char* subject, int length) {
  DAXObaseregexp& b = *base_;
  if (b.code == nullptr || subject == nullptr) {
    b.matched = false;
    return false;
  }
  if (length < 0) length = static_cast<int>(std::strlen(subject));

  int rc;
  for (;;) {
    // PCRE uses only a multiple of three entries and writes at most that
    // many; handing it the rounded-down count of the elements we really own
    // (contiguous through Data()) keeps every write inside the array.
    const int usable = b.offsets.Count() / 3 * 3;
    rc = pcre_exec(b.code, b.study, subject, length, 0, 0, b.offsets.Data(), usable);
    if (rc != 0) break;
    // Too few entries for all the groups: grow by one step and retry.
    b.offsets(b.offsets.Count() + kOffsetsStep - 1) = 0;
  }
  if (rc < 0) {
    b.matched = false;
    return false;
  }

  // Built aside and swapped in: the subject may be one of the old substrings.
  DAXOArray<DAXOString> substrings(rc);
  for (int i = 0; i < rc; ++i) {
    const int from = b.offsets(2 * i);
    const int to = b.offsets(2 * i + 1);
    DAXOString& piece = substrings(i);
    if (from >= 0 && to > from) piece.concat(to - from, subject + from);
  }
  b.substrings.Swap(substrings);
  b.matched = true;
  return true;
}

bool DAXORegExp::Test(const char* subject, int length) const {
  const DAXObaseregexp& b = *base_;
  if (b.code == nullptr || subject == nullptr) return false;
  if (length < 0) length = static_cast<int>(std::strlen(subject));
  // With no offsets vector PCRE only answers whether it matched (0 on a
  // match) and writes nothing, so concurrent calls share only read-only data.
  return pcre_exec(b.code, b.study, subject, length, 0, 0, nullptr, 0) >= 0;
}

bool DAXORegExp::Ok() const {
  return base_->code != nullptr;
}

const char* DAXORegExp::LastError() const {
  return base_->error != nullptr ? base_->error : "";
}

int DAXORegExp::ErrorOffset() const {
  return base_->errorOffset;
}

bool DAXORegExp::Matched() const {
  return base_->matched;
}

const DAXOArray<DAXOString>& DAXORegExp::Substrings() const {
  return base_->substrings;
}

DAXOString DAXORegExp::Substring(int i) const {
  if (i < 0 || i >= base_->substrings.Count()) return DAXOString();
  return base_->substrings(i);
}

int DAXORegExp::NbSubstrings() const {
  return base_->substrings.Count();
}

int DAXORegExp::Position(int i) const {
  const DAXObaseregexp& b = *base_;
  if (!b.matched || i < 0 || i >= b.substrings.Count()) return -1;
  return b.offsets(2 * i);
}
