// The class object of ZelkHelper. It embeds the one shared object and hands it
// to every client; the object is built (and its settings loaded) once, when
// the class object is made at server start.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "automation/zelk_helper.h"

namespace zelk {

class SingletonClassFactory final : public IClassFactory {
 public:
  // Builds the factory and its shared object, running the object's loading
  // step. On success *factory holds one reference; E_OUTOFMEMORY otherwise.
  static HRESULT Create(ModuleServices* module, SingletonClassFactory** factory);

  // IUnknown: the factory's own count; it does not keep the server alive.
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IClassFactory
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
  STDMETHODIMP LockServer(BOOL lock) override;

  HRESULT construction_status() const { return constructionStatus_; }

 private:
  explicit SingletonClassFactory(ModuleServices* module);
  ~SingletonClassFactory() = default;

  volatile LONG referenceCount_ = 1;
  ModuleServices* const module_;
  ZelkHelper helper_;
  HRESULT constructionStatus_ = E_FAIL;
};

}  // namespace zelk
