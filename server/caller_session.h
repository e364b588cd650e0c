// Which session a client call comes from, as the machine-wide server tells
// its callers apart.
#pragma once

#include <windows.h>

namespace zelk {

// The session id in the token of the client whose call this thread is
// serving. The process's COM security must let it identify its callers
// (identify-level impersonation at least). The thread serves as itself again
// before this returns. On failure *session is untouched; the status is that of
// the step that failed: CoImpersonateClient, OpenThreadToken, CoRevertToSelf
// or GetTokenInformation.
HRESULT CallerSessionFromToken(DWORD* session);

}  // namespace zelk
