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

// Bytes in the character that starts at `text`: a lead byte followed by the
// terminator stands alone.
size_t CharBytes(const char* text, LeadBytePredicate is_lead_byte) {
  return is_lead_byte != nullptr && is_lead_byte(static_cast<unsigned char>(*text)) &&
                 text[1] != '\0'
             ? 2
             : 1;
}

// A token gathered character by character into a fixed buffer.
template <size_t Capacity>
class FixedToken {
 public:
  // False, token unchanged, when the character does not fit.
  bool Append(const char* character, size_t bytes) {
    if (Capacity - length_ < bytes) return false;
    for (size_t i = 0; i < bytes; ++i) text_[length_++] = character[i];
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
  UrlDecomposer(UrlParts* parts, const char* text, LeadBytePredicate is_lead_byte)
      : parts_(parts), text_(text), position_(text), is_lead_byte_(is_lead_byte) {}

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

  // Only a single-byte character can be a delimiter.
  bool IsDelimiterAt(const char* position, char delimiter) const {
    return *position == delimiter && CharBytes(position, is_lead_byte_) == 1;
  }

  Step NextAuthorityStep() {
    const size_t bytes = CharBytes(position_, is_lead_byte_);
    if (bytes == 1) {
      const char c = *position_;
      if (c == ':') return scheme_taken_ ? OnLaterColon() : OnSchemeColon();
      if (c == '@') return OnUserEnd();
      if (c == '/' || c == '?') return TakeHost() ? Step::kEndAuthority : Step::kFail;
    }
    if (!collected_.Append(position_, bytes)) return Step::kFail;
    position_ += bytes;
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
    while (*cursor != '\0' && !IsDelimiterAt(cursor, '/') && !IsDelimiterAt(cursor, '@')) {
      const size_t bytes = CharBytes(cursor, is_lead_byte_);
      if (!later.Append(cursor, bytes)) return Step::kFail;
      cursor += bytes;
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

  // The collected token is the run of text right before the current position.
  bool TakeHost() {
    const size_t offset = static_cast<size_t>(position_ - text_) - collected_.length();
    return parts_->SetHost(collected_.text(), collected_.length(), offset);
  }

  bool RunPathAndExtraPhases() {
    const bool path_takes_all = parts_->kind() == kSchemeFile;
    const char* path_end = position_;
    while (*path_end != '\0' &&
           (path_takes_all || (!IsDelimiterAt(path_end, '#') && !IsDelimiterAt(path_end, '?')))) {
      path_end += CharBytes(path_end, is_lead_byte_);
    }
    const size_t path_length = static_cast<size_t>(path_end - position_);
    const size_t offset = static_cast<size_t>(position_ - text_);
    if (path_length != 0 && !parts_->SetPath(position_, path_length, offset)) return false;
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
  const char* text_;
  const char* position_;
  LeadBytePredicate is_lead_byte_;
  FixedToken<kCollectedTokenCapacity> collected_;
  bool scheme_taken_ = false;
  bool user_taken_ = false;
  bool port_taken_ = false;
};

uint16_t DefaultPort(int kind) {
  if (kind < 0 || kind >= kSchemeCount) return 0;
  return kSchemeTable[kind].default_port;
}

// The part buffers are not cleared: nothing reads past a part's length, and
// clearing several kilobytes would cost more than a whole decomposition.
UrlParts::UrlParts() { ResetToHttp(); }

bool UrlParts::Decompose(const char* text, LeadBytePredicate is_lead_byte) {
  ResetParts();
  if (text == nullptr) return false;
  UrlDecomposer decomposer(this, text, is_lead_byte);
  if (decomposer.Run()) return true;
  ResetParts();
  return false;
}

void UrlParts::ResetParts() {
  scheme_[0] = host_[0] = user_name_[0] = password_[0] = path_[0] = extra_[0] = '\0';
  scheme_length_ = host_length_ = user_name_length_ = password_length_ = 0;
  path_length_ = extra_length_ = 0;
  host_offset_ = path_offset_ = 0;
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

bool UrlParts::SetHost(const char* text, size_t length, size_t offset) {
  host_offset_ = static_cast<uint32_t>(offset);
  return StorePart(text, length, host_, kHostCapacity, &host_length_);
}

bool UrlParts::SetUserName(const char* text, size_t length) {
  return StorePart(text, length, user_name_, kUserNameCapacity, &user_name_length_);
}

bool UrlParts::SetPassword(const char* text, size_t length) {
  return StorePart(text, length, password_, kPasswordCapacity, &password_length_);
}

bool UrlParts::SetPath(const char* text, size_t length, size_t offset) {
  path_offset_ = static_cast<uint32_t>(offset);
  return StorePart(text, length, path_, kPathCapacity, &path_length_);
}

bool UrlParts::SetExtra(const char* text, size_t length) {
  return StorePart(text, length, extra_, kExtraCapacity, &extra_length_);
}

size_t UrlParts::DomainStart(LeadBytePredicate is_lead_byte) const {
  // Forwards, a character at a time, remembering the last two dots and
  // whether a letter or digit follows each.
  size_t last_dot = 0, second_last_dot = 0;
  int dots = 0;
  bool alnum_after_last = false, alnum_after_second_last = false;
  for (size_t i = 0; i < host_length_;) {
    const size_t bytes = CharBytes(host_ + i, is_lead_byte);
    if (bytes == 1 && host_[i] == '.') {
      second_last_dot = last_dot;
      alnum_after_second_last = alnum_after_last;
      last_dot = i;
      alnum_after_last = false;
      ++dots;
    } else if (bytes == 1 && IsAsciiLetterOrDigit(host_[i])) {
      alnum_after_last = true;
      alnum_after_second_last = true;
    }
    i += bytes;
  }
  if (dots < 2 || !alnum_after_second_last) return 0;
  return second_last_dot + 1;
}

bool ListedUrl::DecomposeListed(const char* text, LeadBytePredicate is_lead_byte) {
  domain_start_ = 0;
  if (!Decompose(text, is_lead_byte)) return false;
  size_t last_char = 0;
  for (size_t i = 0; i < path_length(); i += CharBytes(path() + i, is_lead_byte)) last_char = i;
  if (path_length() == last_char + 1) {
    const char last = path()[last_char];
    if (last == '/' || last == '\\') DropLastPathByte();
  }
  domain_start_ = DomainStart(is_lead_byte);
  return true;
}

UrlView ListedUrl::view() const {
  return {kind(), port(), std::string_view(host(), host_length()),
          std::string_view(path(), path_length()), domain()};
}

}  // namespace zelk
