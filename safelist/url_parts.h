// URL decomposition: the one place where URL text is split into scheme, user
// information, host, port, path and extra parts.
//
// Pure C++17 with no platform header, so that it builds and is fuzzed natively
// as well as in the server. Text is 8-bit in the caller's code page and is
// stepped a character at a time: the caller says which bytes lead a
// double-byte character, and the byte after a lead byte is never taken for a
// delimiter (':' '/' '?' '#' '@'), for the '\' or '/' that DecomposeListed
// drops, or for a '.', letter or digit of the domain derivation. Trail bytes
// of the Windows double-byte code pages start at 0x40 ('@') and include '\'
// and the ASCII letters; some (Johab) start lower still.
//
// Nothing is decoded or normalised: no percent escapes, no letter case, no dot
// segments, and '\' is an ordinary character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zelk {

// The index of a scheme in the fixed scheme table, or kSchemeUnknown.
enum SchemeKind : int32_t {
  kSchemeUnknown = -1,
  kSchemeFtp = 0,
  kSchemeGopher = 1,
  kSchemeHttp = 2,
  kSchemeHttps = 3,
  kSchemeFile = 4,
  kSchemeNews = 5,
  kSchemeMailto = 6,
  kSchemeSocks = 7,
};

// Capacities of the parts, in bytes, terminating NUL not included.
constexpr size_t kSchemeCapacity = 32;
constexpr size_t kHostCapacity = 256;
constexpr size_t kUserNameCapacity = 128;
constexpr size_t kPasswordCapacity = 128;
constexpr size_t kPathCapacity = 2048;
constexpr size_t kExtraCapacity = 2048;

// Working buffers of the decomposition. Any collected token longer than a
// host can never be stored anyway, so running out of the first one is simply
// a failure. The second bounds the text after a later ':' (port or password).
constexpr size_t kCollectedTokenCapacity = 2089;
constexpr size_t kPortTextCapacity = 128;

// Tells whether a byte is the lead byte of a double-byte character in the
// code page of the text; zelk::IsLeadByte in the server. Null: no byte is.
using LeadBytePredicate = bool (*)(unsigned char);

// The default port of a scheme kind: 21 ftp, 70 gopher, 80 http, 443 https,
// 1080 socks, 0 for every other kind (file, news, mailto, unknown).
uint16_t DefaultPort(int kind);

// One decomposed URL, held in fixed-capacity storage (no heap use).
//
// A new record is in the ResetToHttp state. Copying copies every part.
class UrlParts {
 public:
  UrlParts();

  // Splits NUL-terminated narrow text into its parts, a double-byte character
  // (as `is_lead_byte` tells) as one unit. Starts from ResetParts.
  // Returns true with the URL's parts, or false with the record in the
  // ResetParts state (a null pointer and the empty text fail). Writes nothing
  // but this record and never allocates.
  //
  //   "HTTP://A.Test/x"        -> kind http, scheme "HTTP", host "A.Test",
  //                               path "/x", port 80
  //   "http://u:p@a.test:81/p" -> user "u", password "p", port 81
  //   "http://a.test:/p"       -> port 0 (an empty port text counts as 0)
  //   "http://a.test?q#f"      -> empty path, extra "?q#f"
  //   "http://a.test#f"        -> host "a.test#f" ('#' does not end a host)
  //   "file:///C:/a.htm#x?y"   -> empty host, path "/C:/a.htm#x?y", port 0
  //   "about:blank"            -> kind unknown, host "blank", port 0
  //   "alpha.test/x", ""       -> false (no scheme)
  bool Decompose(const char* text, LeadBytePredicate is_lead_byte);

  // Every part empty, every length 0, port 0, kind unknown.
  void ResetParts();
  // ResetParts, then scheme "http", kind http, port 80.
  void ResetToHttp();

  const char* scheme() const { return scheme_; }
  size_t scheme_length() const { return scheme_length_; }
  const char* host() const { return host_; }
  size_t host_length() const { return host_length_; }
  const char* user_name() const { return user_name_; }
  size_t user_name_length() const { return user_name_length_; }
  const char* password() const { return password_; }
  size_t password_length() const { return password_length_; }
  const char* path() const { return path_; }
  size_t path_length() const { return path_length_; }
  const char* extra() const { return extra_; }
  size_t extra_length() const { return extra_length_; }
  // Where the host and the path begin in the decomposed text: every part is
  // a run of that text, so these describe it without copying.
  size_t host_offset() const { return host_offset_; }
  size_t path_offset() const { return path_offset_; }
  // 0 means no port.
  uint16_t port() const { return port_; }
  // A SchemeKind value.
  int32_t kind() const { return kind_; }

 protected:
  // Drops the path's last byte; no effect on an empty path.
  void DropLastPathByte();
  // Where the domain of the host starts; see ListedUrl::DecomposeListed.
  size_t DomainStart(LeadBytePredicate is_lead_byte) const;

 private:
  friend class UrlDecomposer;

  // Recognises `text` as the scheme and sets scheme text, kind and port.
  // False for an unknown scheme longer than the scheme capacity.
  bool SetScheme(const char* text, size_t length);
  bool SetHost(const char* text, size_t length, size_t offset);
  bool SetUserName(const char* text, size_t length);
  bool SetPassword(const char* text, size_t length);
  bool SetPath(const char* text, size_t length, size_t offset);
  bool SetExtra(const char* text, size_t length);
  void SetPort(uint16_t port) { port_ = port; }

  char scheme_[kSchemeCapacity + 1];
  char host_[kHostCapacity + 1];
  char user_name_[kUserNameCapacity + 1];
  char password_[kPasswordCapacity + 1];
  char path_[kPathCapacity + 1];
  char extra_[kExtraCapacity + 1];
  uint16_t port_;
  int32_t kind_;
  uint32_t scheme_length_;
  uint32_t host_length_;
  uint32_t user_name_length_;
  uint32_t password_length_;
  uint32_t path_length_;
  uint32_t extra_length_;
  uint32_t host_offset_;
  uint32_t path_offset_;
};

// What the safe list compares of a URL: kind, port, and its host, path and
// domain texts (not NUL-terminated).
struct UrlView {
  int32_t kind;
  uint16_t port;
  std::string_view host;
  std::string_view path;
  std::string_view domain;
};

// A URL in the form the safe list keeps and compares: decomposed, with one
// trailing path separator dropped, plus the domain derived from the host.
//
// A new record is in the ResetToHttp state with an empty domain.
class ListedUrl : public UrlParts {
 public:
  ListedUrl() = default;

  // Decompose, then on success:
  //  - a path whose last character is '/' or '\' loses it:
  //      "/a/" -> "/a", "/a//" -> "/a/", "/" -> "", "/a\" -> "/a";
  //  - the domain is derived from the host: the text after the second '.'
  //    from the end when a letter or digit follows that '.', else the host:
  //      "a.b.alpha.test" -> "alpha.test", "alpha.test" -> "alpha.test",
  //      "localhost" -> "localhost", "192.168.1.10" -> "1.10",
  //      "shop.co.uk" -> "co.uk", "a.-.-" -> "a.-.-", "" -> "".
  // Returns the result of Decompose; on failure the domain is empty too.
  // Allocates nothing.
  bool DecomposeListed(const char* text, LeadBytePredicate is_lead_byte);

  // A tail of the host.
  std::string_view domain() const {
    // Clamped, should the record have been decomposed without the listed form.
    const size_t start = domain_start_ < host_length() ? domain_start_ : host_length();
    return std::string_view(host() + start, host_length() - start);
  }
  UrlView view() const;

 private:
  size_t domain_start_ = 0;
};

}  // namespace zelk
