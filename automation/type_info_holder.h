// The process-wide type information of IZelkHelper, loaded once from the
// registered type library, with a cache of member names for late-bound calls.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "automation/module_services.h"
#include "platform/unique_resource.h"

namespace zelk {

class TypeInfoHolder {
 public:
  TypeInfoHolder(const GUID& interface_id, const GUID& library_id, WORD major, WORD minor)
      : interface_id_(interface_id), library_id_(library_id), major_(major), minor_(minor) {}

  // The type information with a reference for the caller; *type_info is null
  // and the loader's status returned when the library cannot be loaded.
  HRESULT GetTypeInfo(ModuleServices* module, LCID locale, ITypeInfo** type_info);

  // Exact spellings are answered from the name cache (searched from the last
  // entry back); anything else falls through to the type information's own,
  // case-insensitive lookup, which also resolves argument names.
  HRESULT GetIDsOfNames(ModuleServices* module, LPOLESTR* names, UINT name_count, LCID locale,
                        DISPID* ids);

  // Invokes through the type information on `instance`, the object's dual interface.
  HRESULT Invoke(ModuleServices* module, void* instance, DISPID id, LCID locale, WORD flags,
                 DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* bad_argument);

  // Releases the type information and the name cache (the termination callback).
  void Clear();

 private:
  struct NameEntry {
    std::wstring name;
    DISPID id = DISPID_UNKNOWN;
  };

  bool IsComplete() const { return type_info_ && names_built_; }
  HRESULT EnsureLoaded(ModuleServices* module, LCID locale);
  HRESULT LoadTypeInfo(ModuleServices* module, LCID locale);
  void BuildNameCache();
  bool FindCachedName(const wchar_t* name, DISPID* id) const;

  const GUID interface_id_;
  const GUID library_id_;
  const WORD major_;
  const WORD minor_;
  ComPtr<ITypeInfo> type_info_;
  std::vector<NameEntry> names_;
  bool names_built_ = false;
};

// The one holder for IZelkHelper in this process.
TypeInfoHolder& ZelkHelperTypeInfo();

}  // namespace zelk
