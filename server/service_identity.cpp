#include "server/service_identity.h"

#include <objbase.h>
#include <sddl.h>
#include <wincrypt.h>

#include <cstring>
#include <new>
#include <vector>

#include "platform/status.h"
#include "platform/unique_resource.h"

namespace zelk {

namespace {

constexpr DWORD kSha1Bytes = 20;

// COM rights in the AppID's descriptors: COM_RIGHTS_EXECUTE (1),
// COM_RIGHTS_EXECUTE_LOCAL (2) and COM_RIGHTS_ACTIVATE_LOCAL (8); the remote
// rights (4, 16) are granted to no one. Owner and group are set because COM
// refuses a permission descriptor without them.
constexpr const wchar_t kLaunchPermissionSddl[] =
    L"O:BAG:BAD:(A;;0xB;;;IU)(A;;0xB;;;SY)(A;;0xB;;;BA)";
constexpr const wchar_t kAccessPermissionSddl[] =
    L"O:BAG:BAD:(A;;0x3;;;IU)(A;;0x3;;;SY)(A;;0x3;;;BA)";

HRESULT Sha1(const void* bytes, DWORD size, BYTE (&digest)[kSha1Bytes]) {
  UniqueCryptProvider provider;
  if (!CryptAcquireContextW(provider.put(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
    return StatusFromLastError();
  }
  UniqueCryptHash hash;
  if (!CryptCreateHash(provider.get(), CALG_SHA1, 0, 0, hash.put())) return StatusFromLastError();
  if (!CryptHashData(hash.get(), static_cast<const BYTE*>(bytes), size, 0)) {
    return StatusFromLastError();
  }
  DWORD digest_size = kSha1Bytes;
  if (!CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &digest_size, 0)) {
    return StatusFromLastError();
  }
  return digest_size == kSha1Bytes ? S_OK : E_FAIL;
}

// CoInitializeSecurity takes its descriptor in absolute form, whose parts
// live in buffers of their own.
class AbsoluteDescriptor {
 public:
  HRESULT Convert(const std::string& self_relative) {
    PSECURITY_DESCRIPTOR source =
        const_cast<PSECURITY_DESCRIPTOR>(static_cast<const void*>(self_relative.data()));
    DWORD sizes[5] = {};
    MakeAbsoluteSD(source, nullptr, &sizes[0], nullptr, &sizes[1], nullptr, &sizes[2], nullptr,
                   &sizes[3], nullptr, &sizes[4]);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return StatusFromLastError();
    try {
      for (int part = 0; part < 5; ++part) parts_[part].resize(sizes[part]);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    if (!MakeAbsoluteSD(source, Part(0), &sizes[0], reinterpret_cast<PACL>(Part(1)), &sizes[1],
                        reinterpret_cast<PACL>(Part(2)), &sizes[2], Part(3), &sizes[3], Part(4),
                        &sizes[4])) {
      return StatusFromLastError();
    }
    return S_OK;
  }

  PSECURITY_DESCRIPTOR get() { return Part(0); }

 private:
  BYTE* Part(int part) { return parts_[part].empty() ? nullptr : parts_[part].data(); }

  // The descriptor, its DACL, its SACL, its owner and its group.
  std::vector<BYTE> parts_[5];
};

}  // namespace

HRESULT ServiceSidText(const wchar_t* service_name, std::wstring* sid) {
  try {
    std::wstring upper(service_name);
    if (!upper.empty()) CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
    BYTE digest[kSha1Bytes];
    ZELK_RETURN_IF_FAILED(
        Sha1(upper.data(), static_cast<DWORD>(upper.size() * sizeof(wchar_t)), digest));
    std::wstring text = L"S-1-5-80";
    for (DWORD offset = 0; offset < kSha1Bytes; offset += 4) {
      const DWORD sub_authority = static_cast<DWORD>(digest[offset]) |
                                  static_cast<DWORD>(digest[offset + 1]) << 8 |
                                  static_cast<DWORD>(digest[offset + 2]) << 16 |
                                  static_cast<DWORD>(digest[offset + 3]) << 24;
      text += L'-';
      text += std::to_wstring(sub_authority);
    }
    sid->swap(text);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT DescriptorFromSddl(const wchar_t* sddl, std::string* descriptor) {
  PSECURITY_DESCRIPTOR converted = nullptr;
  ULONG size = 0;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &converted,
                                                            &size)) {
    return StatusFromLastError();
  }
  UniqueLocalMemory owner(converted);
  try {
    descriptor->assign(static_cast<const char*>(converted), size);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT LaunchPermissionDescriptor(std::string* descriptor) {
  return DescriptorFromSddl(kLaunchPermissionSddl, descriptor);
}

HRESULT AccessPermissionDescriptor(std::string* descriptor) {
  return DescriptorFromSddl(kAccessPermissionSddl, descriptor);
}

HRESULT InitializeServiceCallSecurity() {
  std::string self_relative;
  ZELK_RETURN_IF_FAILED(AccessPermissionDescriptor(&self_relative));
  AbsoluteDescriptor access;
  ZELK_RETURN_IF_FAILED(access.Convert(self_relative));
  // The service needs no other server started under its identity
  // (EOAC_DISABLE_AAA), and unmarshals no object whose code a caller chose
  // (EOAC_NO_CUSTOM_MARSHAL).
  return CoInitializeSecurity(access.get(), -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_INTEGRITY,
                              RPC_C_IMP_LEVEL_IDENTIFY, nullptr,
                              EOAC_DISABLE_AAA | EOAC_NO_CUSTOM_MARSHAL, nullptr);
}

}  // namespace zelk
