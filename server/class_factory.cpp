#include "server/class_factory.h"

#include <new>

namespace zelk {

SingletonClassFactory::SingletonClassFactory(ModuleServices* module)
    : module_(module), helper_(module) {}

HRESULT SingletonClassFactory::Create(ModuleServices* module, SingletonClassFactory** factory) {
  *factory = nullptr;
  SingletonClassFactory* created = new (std::nothrow) SingletonClassFactory(module);
  if (created == nullptr) return E_OUTOFMEMORY;
  // A failed load still yields a factory: it stays published and answers every
  // creation with the failure, so clients learn why instead of timing out.
  created->constructionStatus_ = created->helper_.Load();
  *factory = created;
  return S_OK;
}

STDMETHODIMP SingletonClassFactory::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
    return E_NOINTERFACE;
  }
  *object = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) SingletonClassFactory::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&referenceCount_));
}

STDMETHODIMP_(ULONG) SingletonClassFactory::Release() {
  const LONG count = InterlockedDecrement(&referenceCount_);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

STDMETHODIMP SingletonClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  if (constructionStatus_ != S_OK) return constructionStatus_;
  return helper_.QueryInterface(riid, object);
}

STDMETHODIMP SingletonClassFactory::LockServer(BOOL lock) {
  if (lock) {
    module_->Lock();
  } else {
    module_->Unlock();
  }
  return S_OK;
}

}  // namespace zelk
