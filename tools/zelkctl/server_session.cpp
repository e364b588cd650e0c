#include "tools/zelkctl/server_session.h"

namespace zelk {
namespace ctl {

ServerSession::~ServerSession() {
  helper_.reset();
  if (com_initialized_) CoUninitialize();
}

HRESULT ServerSession::Connect(IZelkHelper** helper) {
  if (!helper_) {
    if (!com_initialized_) {
      const HRESULT status = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      if (FAILED(status)) return status;
      com_initialized_ = true;
    }
    const HRESULT status = CoCreateInstance(CLSID_ZelkHelper, nullptr, CLSCTX_LOCAL_SERVER,
                                            IID_IZelkHelper, helper_.put_void());
    if (FAILED(status)) return status;
  }
  *helper = helper_.get();
  return S_OK;
}

}  // namespace ctl
}  // namespace zelk
