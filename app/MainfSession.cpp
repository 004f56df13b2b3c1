// The two sides of a session: the mail program's connection (login commands, relaying) and the
// upstream connection with the APOP login. Placeholder bodies until the session code lands: the
// proxy accepts nothing beyond start-up and shut-down yet.
#include "app/Mainf.h"

namespace ovelta {

void TMainForm::APOPServerSocketClientConnect(TObject*, TCustomWinSocket*) {}
void TMainForm::APOPServerSocketClientDisconnect(TObject*, TCustomWinSocket*) {}
void TMainForm::APOPServerSocketClientRead(TObject*, TCustomWinSocket*) {}
void TMainForm::APOPServerSocketClientError(TObject*, TCustomWinSocket*, TErrorEvent, int&) {}
void TMainForm::ClientCommand(const AnsiString&) {}
void TMainForm::SendToClient(const AnsiString&) {}

void TMainForm::ConnectServer() {}
void TMainForm::APOPUpstreamSocketConnect(TObject*, TCustomWinSocket*) {}
void TMainForm::APOPUpstreamSocketDisconnect(TObject*, TCustomWinSocket*) {}
void TMainForm::APOPUpstreamSocketRead(TObject*, TCustomWinSocket*) {}
void TMainForm::APOPUpstreamSocketError(TObject*, TCustomWinSocket*, TErrorEvent, int&) {}
void TMainForm::ServerLine(const AnsiString&) {}
void TMainForm::SendApop() {}
void TMainForm::SendToServer(const AnsiString&) {}

}  // namespace ovelta
