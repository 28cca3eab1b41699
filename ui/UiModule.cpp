// The entry of Tessera's dialog module, which the launcher loads with
// dlopen the first time a dialog is needed: it gives the dialog an
// application object for the run and tears it down afterwards, so that two
// runs in a row behave alike, and keeps Qt's diagnostics off the host's
// standard streams.
#include <QApplication>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "SelectCertificateDlg.h"
#include "kernel/platform/ModuleLoader.h"
#include "trace/TraceHelper.h"

namespace {

bool CanConnect(const std::string& strPath, bool bAbstract)
{
    sockaddr_un addr{};
    if (strPath.size() + 1 >= sizeof addr.sun_path)
        return false;
    addr.sun_family = AF_UNIX;
    // An abstract socket name starts with a NUL byte.
    std::memcpy(addr.sun_path + (bAbstract ? 1 : 0), strPath.data(), strPath.size());
    const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + strPath.size() + (bAbstract ? 1 : 0));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool bConnected = connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0;
    close(fd);
    return bConnected;
}

// Qt ends the process when its window system cannot be reached, so look
// before creating the application: an explicit platform is trusted, a
// Wayland or local X display must accept a connection.
bool IsDisplayAvailable()
{
    const char* pszPlatform = std::getenv("QT_QPA_PLATFORM");
    if (pszPlatform != nullptr && *pszPlatform != '\0')
        return true;
    const char* pszWayland = std::getenv("WAYLAND_DISPLAY");
    const char* pszRuntime = std::getenv("XDG_RUNTIME_DIR");
    if (pszWayland != nullptr && *pszWayland != '\0') {
        const std::string strSocket = pszWayland[0] == '/' ? pszWayland
                                      : pszRuntime != nullptr ? std::string(pszRuntime) + "/" + pszWayland
                                                              : std::string();
        if (!strSocket.empty() && CanConnect(strSocket, false))
            return true;
    }
    const char* pszDisplay = std::getenv("DISPLAY");
    if (pszDisplay == nullptr || *pszDisplay == '\0')
        return false;
    const char* pszColon = std::strrchr(pszDisplay, ':');
    if (pszColon == nullptr)
        return false;
    if (pszColon != pszDisplay && std::strncmp(pszDisplay, "unix", 4) != 0)
        return true; // a remote display: let Qt try it
    const std::string strNumber(pszColon + 1, std::strcspn(pszColon + 1, "."));
    const std::string strSocket = "/tmp/.X11-unix/X" + strNumber;
    return CanConnect(strSocket, false) || CanConnect(strSocket, true);
}

// Qt's messages go to the trace, never to stdout or stderr.
void TraceQtMessage(QtMsgType, const QMessageLogContext&, const QString& strMessage)
{
    if (TraceIsEnabled(TRACE_FLAG_INFO)) {
        const std::u16string wstr = strMessage.toStdU16String();
        TraceMessage(TRACE_FLAG_INFO, kTraceGuidDialogLauncher, 20, wstr.c_str());
    }
}

} // namespace

TESSERA_MODULE_EXPORT int
tessera_ui_run_select_certificate_dialog(const SelectCertificateDlgParams* pParams, int32_t* pnErrorCode,
                                         CertContextRef* ppCertificate)
{
    // The module's tracing joins the host's provider, if it has one.
    InitTracing(LoadTesseraModule);
    TraceHelper traceHelper("RunSelectCertificateDialog");
    const bool bOwnApplication = QCoreApplication::instance() == nullptr;
    if (bOwnApplication && !IsDisplayAvailable())
        return -1;

    const QtMessageHandler pfnPrevious = qInstallMessageHandler(TraceQtMessage);
    static int s_argc = 1;
    static char s_szName[] = "tessera-host";
    static char* s_argv[] = {s_szName, nullptr};
    std::unique_ptr<QApplication> pApplication;
    if (bOwnApplication) {
        pApplication = std::make_unique<QApplication>(s_argc, s_argv);
        pApplication->setQuitOnLastWindowClosed(false);
    }
    int nEndCode;
    {
        CSelectCertificateDlg dialog;
        nEndCode = dialog.DoModal(pParams);
        if (pnErrorCode != nullptr)
            *pnErrorCode = dialog.GetErrorCode();
        if (ppCertificate != nullptr)
            *ppCertificate = dialog.GetSelectedCertificate();
    }
    pApplication.reset();
    qInstallMessageHandler(pfnPrevious);
    return nEndCode;
}
