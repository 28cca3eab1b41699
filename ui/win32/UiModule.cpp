// The entry of Tessera's Windows dialog module, which the launcher loads
// the first time a dialog is needed. It prepares the calling thread for a
// modal dialog (COM, the version 6 common controls of the module's own
// manifest), runs the dialog and tears everything down again, so that two
// runs in a row behave alike.
#include "SelectCertificateDlg.h"
#include "kernel/platform/ModuleLoader.h"
#include "trace/TraceHelper.h"

namespace {

// The manifest that selects the version 6 common controls, the module's
// resource 2.
constexpr WORD IDR_COMMON_CONTROLS_MANIFEST = 2;

HMODULE ThisModule()
{
    HMODULE hModule = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &hModule);
    return hModule;
}

// The module's activation context, active for as long as the object lives.
class CommonControlsContext {
public:
    CommonControlsContext()
    {
        HMODULE hModule = ThisModule();
        wchar_t szPath[MAX_PATH] = {};
        if (hModule == nullptr || GetModuleFileNameW(hModule, szPath, MAX_PATH) == 0)
            return;
        ACTCTXW actCtx{};
        actCtx.cbSize = sizeof actCtx;
        actCtx.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
        actCtx.lpSource = szPath;
        actCtx.hModule = hModule;
        actCtx.lpResourceName = MAKEINTRESOURCEW(IDR_COMMON_CONTROLS_MANIFEST);
        m_hActCtx = CreateActCtxW(&actCtx);
        if (m_hActCtx != INVALID_HANDLE_VALUE && !ActivateActCtx(m_hActCtx, &m_ulCookie)) {
            ReleaseActCtx(m_hActCtx);
            m_hActCtx = INVALID_HANDLE_VALUE;
        }
    }
    ~CommonControlsContext()
    {
        if (m_hActCtx != INVALID_HANDLE_VALUE) {
            DeactivateActCtx(0, m_ulCookie);
            ReleaseActCtx(m_hActCtx);
        }
    }
    CommonControlsContext(const CommonControlsContext&) = delete;
    CommonControlsContext& operator=(const CommonControlsContext&) = delete;

    bool Active() const { return m_hActCtx != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_hActCtx = INVALID_HANDLE_VALUE;
    ULONG_PTR m_ulCookie = 0;
};

} // namespace

TESSERA_MODULE_EXPORT int
tessera_ui_run_select_certificate_dialog(const SelectCertificateDlgParams* pParams, int32_t* pnErrorCode,
                                         CertContextRef* ppCertificate)
{
    static const bool s_bTracing = [] {
        InitTracing(LoadTesseraModule);
        return true;
    }();
    (void)s_bTracing;
    TraceHelper traceHelper("RunSelectCertificateDialog");
    const HRESULT hCom = CoInitialize(nullptr);
    DefWindowProcW(nullptr, 0, 0, 0);
    INT_PTR nEndCode = -1;
    {
        CSelectCertificateDlg dialog;
        {
            // Without the modern common controls the dialog is not shown.
            const CommonControlsContext context;
            if (context.Active())
                nEndCode = dialog.DoModal(GetActiveWindow(), pParams);
        }
        if (pnErrorCode != nullptr)
            *pnErrorCode = dialog.GetErrorCode();
        if (ppCertificate != nullptr)
            *ppCertificate = dialog.GetSelectedCertificate();
    }
    if (SUCCEEDED(hCom))
        CoUninitialize();
    return static_cast<int>(nEndCode);
}
