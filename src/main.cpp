// The program entry: start the server, run the shell until it is told to stop, shut down.
#include "core/servermain.h"
#include "operator/server_wiring.h"
#include "platform/process.h"
#include "shell/frmMain_u.h"
#include "web/server_wiring.h"

int main(int argc, char** argv) {
  if (shell::HandleInformationArguments(argc, argv)) return 0;
  if (int code = shell::HandleCheckConfig(argc, argv); code >= 0) return code;
  plat::BlockTerminationSignals();
  // The application exists before start-up, which looks for its window.
  shell::TApplication application;
  core::TParlowindServer server(core::CurrentProcessEnvironment(argc, argv));
  if (!server.Server_Init()) {
    shell::ReportFatalStart(server);
    plat::ExitProcessNow(1);
  }
  auto operator_interface = oper::StartOperatorInterface(server);
  auto web_view = web::StartWebView(server);
  application.SetTitle(shell::kApplicationTitle);
  shell::TfrmMain(server).Run();
  return 0;
}
