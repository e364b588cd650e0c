#include "server/caller_session.h"

#include <objbase.h>

#include <utility>

#include "platform/status.h"
#include "platform/unique_resource.h"

namespace zelk {

namespace {

// The calling client's token, opened for queries while impersonating it.
HRESULT OpenCallerToken(UniqueHandle* token) {
  ZELK_RETURN_IF_FAILED(CoImpersonateClient());
  // An identification token cannot open objects as the client it stands for:
  // the token is opened with the server's own rights (OpenAsSelf).
  UniqueHandle opened;
  const HRESULT open_status = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, opened.put())
                                  ? S_OK
                                  : StatusFromLastError();
  // Reverted before anything else happens, on every path: the thread goes on
  // to serve other clients.
  ZELK_RETURN_IF_FAILED(CoRevertToSelf());
  ZELK_RETURN_IF_FAILED(open_status);
  *token = std::move(opened);
  return S_OK;
}

}  // namespace

HRESULT CallerSessionFromToken(DWORD* session) {
  UniqueHandle token;
  ZELK_RETURN_IF_FAILED(OpenCallerToken(&token));
  DWORD id = 0;
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenSessionId, &id, sizeof(id), &size)) {
    return StatusFromLastError();
  }
  if (size != sizeof(id)) return E_UNEXPECTED;
  *session = id;
  return S_OK;
}

}  // namespace zelk
