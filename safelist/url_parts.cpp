#include "safelist/url_parts.h"

#include <cstring>

namespace zelk {

namespace {

struct SchemeEntry {
  const char* text;
  size_t length;
  uint16_t default_port;
};

// Indexed by SchemeKind; the order is part of the kind numbers.
constexpr SchemeEntry kSchemeTable[] = {
    {"ftp", 3, 21},   {"gopher", 6, 70}, {"http", 4, 80},   {"https", 5, 443},
    {"file", 4, 0},   {"news", 4, 0},    {"mailto", 6, 0},  {"socks", 5, 1080},
};
constexpr int kSchemeCount = static_cast<int>(sizeof(kSchemeTable) / sizeof(kSchemeTable[0]));

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsAsciiLetterOrDigit(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The C library's white space in the "C" locale; the port text must not
// depend on the process locale.
bool IsAsciiSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool EqualsIgnoringAsciiCase(const char* text, size_t length, const SchemeEntry& entry) {
  if (length != entry.length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (AsciiLower(text[i]) != entry.text[i]) return false;
  }
  return true;
}

int SchemeKindOf(const char* text, size_t length) {
  for (int kind = 0; kind < kSchemeCount; ++kind) {
    if (EqualsIgnoringAsciiCase(text, length, kSchemeTable[kind])) return kind;
  }
  return kSchemeUnknown;
}

// Reads a port the way atoi reads a number (leading white space, one sign,
// digits up to the first non-digit, 0 without digits), but accumulates modulo
// 2^32 so that long digit runs are defined; the low 16 bits are the port.
uint16_t PortFromText(const char* text) {
  while (IsAsciiSpace(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') {
    negative = *text == '-';
    ++text;
  }
  uint32_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10u + static_cast<uint32_t>(*text - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<uint16_t>(value & 0xffffu);
}

// Copies a part into its storage; false (storage untouched) when it does not fit.
bool StorePart(const char* text, size_t length, char* storage, size_t capacity,
               uint32_t* stored_length) {
  if (length > capacity) return false;
  std::memcpy(storage, text, length);
  storage[length] = '\0';
  *stored_length = static_cast<uint32_t>(length);
  return true;
}

// Index where the domain starts in the host. See ListedUrl::DecomposeListed.
size_t DomainStart(const char* host, size_t length) {
  int dots = 0;
  bool letter_or_digit_seen = false;
  for (size_t i = length; i > 0; --i) {
    const char c = host[i - 1];
    if (c == '.' && ++dots == 2) return letter_or_digit_seen ? i : 0;
    if (IsAsciiLetterOrDigit(c)) letter_or_digit_seen = true;
  }
  return 0;
}

// A token gathered byte by byte into a fixed buffer.
template <size_t Capacity>
class FixedToken {
 public:
  // False, token unchanged, when it is full.
  bool Append(char c) {
    if (length_ == Capacity) return false;
    text_[length_++] = c;
    return true;
  }
  void Clear() { length_ = 0; }
  const char* text() {
    text_[length_] = '\0';
    return text_;
  }
  size_t length() const { return length_; }

 private:
  char text_[Capacity + 1];
  size_t length_ = 0;
};

}  // namespace

// The three phases of one decomposition: authority, path, extra. Each step
// either consumes text and stores a part, or reports failure.
class UrlDecomposer {
 public:
  UrlDecomposer(UrlParts* parts, const char* text) : parts_(parts), position_(text) {}

  bool Run() {
    if (*position_ == '\0') return false;
    if (!RunAuthorityPhase()) return false;
    if (!RunPathAndExtraPhases()) return false;
    ApplyPortRule();
    return true;
  }

 private:
  enum class Step { kContinue, kEndAuthority, kFail };

  bool RunAuthorityPhase() {
    while (*position_ != '\0') {
      const Step step = NextAuthorityStep();
      if (step == Step::kFail) return false;
      if (step == Step::kEndAuthority) break;
    }
    // A text without a scheme is not a URL, however it ended.
    return scheme_taken_;
  }

  Step NextAuthorityStep() {
    const char c = *position_;
    if (c == ':') return scheme_taken_ ? OnLaterColon() : OnSchemeColon();
    if (c == '@') return OnUserEnd();
    if (c == '/' || c == '?') return TakeHost() ? Step::kEndAuthority : Step::kFail;
    if (!collected_.Append(c)) return Step::kFail;
    ++position_;
    if (*position_ == '\0') return TakeHost() ? Step::kEndAuthority : Step::kFail;
    return Step::kContinue;
  }

  Step OnSchemeColon() {
    if (!parts_->SetScheme(collected_.text(), collected_.length())) return Step::kFail;
    scheme_taken_ = true;
    collected_.Clear();
    const char* after = position_ + 1;
    if (after[0] == '/' && after[1] != '/') {
      // "scheme:/path": an absolute path with no authority at all.
      position_ = after;
      return Step::kEndAuthority;
    }
    if (after[0] == '/' && after[1] == '/') {
      if (parts_->kind() == kSchemeMailto) return Step::kFail;
      after += 2;
    }
    position_ = after;
    // A file URL has no host, user or port: everything after "file:" or
    // "file://" is path.
    return parts_->kind() == kSchemeFile ? Step::kEndAuthority : Step::kContinue;
  }

  // A ':' after the scheme starts either a port (ended by '/' or the end) or
  // a password (ended by '@').
  Step OnLaterColon() {
    FixedToken<kPortTextCapacity> later;
    const char* cursor = position_ + 1;
    for (; *cursor != '\0' && *cursor != '/' && *cursor != '@'; ++cursor) {
      if (!later.Append(*cursor)) return Step::kFail;
    }
    if (*cursor == '@') {
      if (user_taken_) return Step::kFail;
      if (!parts_->SetUserName(collected_.text(), collected_.length())) return Step::kFail;
      if (later.length() != 0 && collected_.length() == 0) return Step::kFail;
      if (!parts_->SetPassword(later.text(), later.length())) return Step::kFail;
      user_taken_ = true;
      collected_.Clear();
      position_ = cursor + 1;
      return Step::kContinue;
    }
    if (!TakeHost()) return Step::kFail;
    parts_->SetPort(PortFromText(later.text()));
    port_taken_ = true;
    position_ = cursor;
    return Step::kEndAuthority;
  }

  Step OnUserEnd() {
    if (user_taken_) return Step::kFail;
    if (!parts_->SetUserName(collected_.text(), collected_.length())) return Step::kFail;
    user_taken_ = true;
    collected_.Clear();
    ++position_;
    return Step::kContinue;
  }

  bool TakeHost() { return parts_->SetHost(collected_.text(), collected_.length()); }

  bool RunPathAndExtraPhases() {
    const bool path_takes_all = parts_->kind() == kSchemeFile;
    const char* path_end = position_;
    while (*path_end != '\0' && (path_takes_all || (*path_end != '#' && *path_end != '?'))) {
      ++path_end;
    }
    const size_t path_length = static_cast<size_t>(path_end - position_);
    if (path_length != 0 && !parts_->SetPath(position_, path_length)) return false;
    const size_t extra_length = std::strlen(path_end);
    if (extra_length != 0 && !parts_->SetExtra(path_end, extra_length)) return false;
    return true;
  }

  void ApplyPortRule() {
    const int kind = parts_->kind();
    if (kind == kSchemeFile || kind == kSchemeNews || kind == kSchemeMailto) {
      parts_->SetPort(0);
    } else if (!port_taken_) {
      parts_->SetPort(DefaultPort(kind));
    }
  }

  UrlParts* parts_;
  const char* position_;
  FixedToken<kCollectedTokenCapacity> collected_;
  bool scheme_taken_ = false;
  bool user_taken_ = false;
  bool port_taken_ = false;
};

uint16_t DefaultPort(int kind) {
  if (kind < 0 || kind >= kSchemeCount) return 0;
  return kSchemeTable[kind].default_port;
}

UrlParts::UrlParts()
    : scheme_(), host_(), user_name_(), password_(), path_(), extra_() {
  ResetToHttp();
}

bool UrlParts::Decompose(const char* text) {
  ResetParts();
  if (text == nullptr) return false;
  UrlDecomposer decomposer(this, text);
  if (decomposer.Run()) return true;
  ResetParts();
  return false;
}

void UrlParts::ResetParts() {
  scheme_[0] = host_[0] = user_name_[0] = password_[0] = path_[0] = extra_[0] = '\0';
  scheme_length_ = host_length_ = user_name_length_ = password_length_ = 0;
  path_length_ = extra_length_ = 0;
  port_ = 0;
  kind_ = kSchemeUnknown;
}

void UrlParts::ResetToHttp() {
  ResetParts();
  SetScheme("http", 4);
}

void UrlParts::DropLastPathByte() {
  if (path_length_ == 0) return;
  path_[--path_length_] = '\0';
}

bool UrlParts::SetScheme(const char* text, size_t length) {
  if (!StorePart(text, length, scheme_, kSchemeCapacity, &scheme_length_)) return false;
  kind_ = SchemeKindOf(text, length);
  port_ = DefaultPort(kind_);
  return true;
}

bool UrlParts::SetHost(const char* text, size_t length) {
  return StorePart(text, length, host_, kHostCapacity, &host_length_);
}

bool UrlParts::SetUserName(const char* text, size_t length) {
  return StorePart(text, length, user_name_, kUserNameCapacity, &user_name_length_);
}

bool UrlParts::SetPassword(const char* text, size_t length) {
  return StorePart(text, length, password_, kPasswordCapacity, &password_length_);
}

bool UrlParts::SetPath(const char* text, size_t length) {
  return StorePart(text, length, path_, kPathCapacity, &path_length_);
}

bool UrlParts::SetExtra(const char* text, size_t length) {
  return StorePart(text, length, extra_, kExtraCapacity, &extra_length_);
}

bool ListedUrl::DecomposeListed(const char* text) {
  if (!Decompose(text)) return false;
  if (path_length() != 0) {
    const char last = path()[path_length() - 1];
    if (last == '/' || last == '\\') DropLastPathByte();
  }
  const size_t start = DomainStart(host(), host_length());
  domain_.assign(host() + start, host_length() - start);
  return true;
}

}  // namespace zelk
