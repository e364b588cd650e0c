// The connection to the ZelkAdmin server. It is made on first use, so that
// help and usage errors never start the server, and every reference is
// released before the apartment closes: a reference left behind would keep
// the server running past its idle time.
#pragma once

#include <windows.h>

#include "platform/unique_resource.h"
#include "zelk_admin.h"

namespace zelk {
namespace ctl {

class ServerSession {
 public:
  ServerSession() = default;
  ~ServerSession();
  ServerSession(const ServerSession&) = delete;
  ServerSession& operator=(const ServerSession&) = delete;

  // The shared ZelkHelper object, created out of process at the first call;
  // the pointer stays owned by the session.
  HRESULT Connect(IZelkHelper** helper);

 private:
  bool com_initialized_ = false;
  ComPtr<IZelkHelper> helper_;
};

}  // namespace ctl
}  // namespace zelk
