#include "automation/type_info_holder.h"

#include <cwchar>
#include <new>

#include "zelk_admin.h"

namespace zelk {

namespace {

void ClearHolder(void* holder) { static_cast<TypeInfoHolder*>(holder)->Clear(); }

// Holds one function description of a type information for one scope.
class FuncDescription {
 public:
  FuncDescription(ITypeInfo* type_info, UINT index) : type_info_(type_info) {
    status_ = type_info->GetFuncDesc(index, &description_);
  }
  ~FuncDescription() {
    if (SUCCEEDED(status_)) type_info_->ReleaseFuncDesc(description_);
  }
  FuncDescription(const FuncDescription&) = delete;
  FuncDescription& operator=(const FuncDescription&) = delete;
  HRESULT status() const { return status_; }
  MEMBERID id() const { return description_->memid; }

 private:
  ITypeInfo* type_info_;
  FUNCDESC* description_ = nullptr;
  HRESULT status_;
};

}  // namespace

TypeInfoHolder& ZelkHelperTypeInfo() {
  static TypeInfoHolder holder(IID_IZelkHelper, LIBID_ZelkAdminLib, 1, 0);
  return holder;
}

HRESULT TypeInfoHolder::EnsureLoaded(ModuleServices* module, LCID locale) {
  // Once both are present they are only read until termination, so the common
  // case needs no lock; all callers are on the server's one apartment thread.
  if (IsComplete()) return S_OK;
  ModuleLockGuard guard(module);
  if (FAILED(guard.status())) return guard.status();
  HRESULT status = S_OK;
  if (!type_info_) status = LoadTypeInfo(module, locale);
  if (type_info_ && !names_built_) BuildNameCache();
  return status;
}

HRESULT TypeInfoHolder::LoadTypeInfo(ModuleServices* module, LCID locale) {
  ComPtr<ITypeLib> library;
  HRESULT status = LoadRegTypeLib(library_id_, major_, minor_, locale, library.put());
  if (FAILED(status)) return status;
  ComPtr<ITypeInfo> type_info;
  status = library->GetTypeInfoOfGuid(interface_id_, type_info.put());
  if (SUCCEEDED(status)) {
    ComPtr<ITypeInfo2> extended;
    if (SUCCEEDED(type_info->QueryInterface(IID_ITypeInfo2, extended.put_void()))) {
      type_info_.attach(extended.detach());
    } else {
      type_info_ = std::move(type_info);
    }
  }
  // Clear() touches only what is present, so registering it again after a
  // failed lookup is harmless; failing to register it only leaks at exit.
  module->AddTerminationCallback(ClearHolder, this);
  return status;
}

void TypeInfoHolder::BuildNameCache() {
  TYPEATTR* attributes = nullptr;
  if (FAILED(type_info_->GetTypeAttr(&attributes))) return;
  const UINT count = attributes->cFuncs;
  type_info_->ReleaseTypeAttr(attributes);
  try {
    std::vector<NameEntry> names(count);
    for (UINT index = 0; index < count; ++index) {
      FuncDescription description(type_info_.get(), index);
      if (FAILED(description.status())) continue;
      UniqueBstr name;
      if (FAILED(type_info_->GetDocumentation(description.id(), name.put(), nullptr, nullptr,
                                              nullptr))) {
        continue;
      }
      names[index].name.assign(name.get(), SysStringLen(name.get()));
      names[index].id = description.id();
    }
    names_.swap(names);
    names_built_ = true;
  } catch (const std::bad_alloc&) {
    // Without the cache every name goes to the type information's own lookup.
  }
}

bool TypeInfoHolder::FindCachedName(const wchar_t* name, DISPID* id) const {
  const size_t length = wcslen(name);
  for (size_t index = names_.size(); index-- > 0;) {
    const NameEntry& entry = names_[index];
    if (entry.name.size() == length && !entry.name.empty() &&
        wmemcmp(entry.name.data(), name, length) == 0) {
      *id = entry.id;
      return true;
    }
  }
  return false;
}

HRESULT TypeInfoHolder::GetTypeInfo(ModuleServices* module, LCID locale, ITypeInfo** type_info) {
  if (type_info == nullptr) return E_POINTER;
  *type_info = nullptr;
  HRESULT status = type_info_ ? S_OK : EnsureLoaded(module, locale);
  if (!type_info_) return FAILED(status) ? status : E_FAIL;
  type_info_->AddRef();
  *type_info = type_info_.get();
  return S_OK;
}

HRESULT TypeInfoHolder::GetIDsOfNames(ModuleServices* module, LPOLESTR* names, UINT name_count,
                                      LCID locale, DISPID* ids) {
  const HRESULT status = EnsureLoaded(module, locale);
  if (!type_info_) return FAILED(status) ? status : E_FAIL;
  if (names_built_) {
    if (name_count > 0 && (names == nullptr || ids == nullptr)) return E_POINTER;
    UINT index = 0;
    for (; index < name_count; ++index) {
      if (names[index] == nullptr || !FindCachedName(names[index], &ids[index])) break;
    }
    if (index == name_count) return status;
  }
  return type_info_->GetIDsOfNames(names, name_count, ids);
}

HRESULT TypeInfoHolder::Invoke(ModuleServices* module, void* instance, DISPID id, LCID locale,
                               WORD flags, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO* exception, UINT* bad_argument) {
  const HRESULT status = EnsureLoaded(module, locale);
  if (!type_info_) return FAILED(status) ? status : E_FAIL;
  return type_info_->Invoke(instance, id, flags, params, result, exception, bad_argument);
}

void TypeInfoHolder::Clear() {
  type_info_.reset();
  names_.clear();
  names_.shrink_to_fit();
  names_built_ = false;
}

}  // namespace zelk
