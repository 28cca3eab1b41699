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

// The browser window that started the host. Chrome and Edge pass it as
// --parent-window=<decimal handle> on the host's command line; this is the
// one argument Tessera reads. Anything else on the line, a value that is not
// a plain decimal number, or a number that names no window is ignored.
HWND ParentWindowFromCommandLine()
{
    // Words are split at blanks: the argument is never quoted, and a quoted
    // program path with blanks only yields fragments that do not match.
    static constexpr wchar_t kPrefix[] = L"--parent-window=";
    constexpr size_t nPrefix = sizeof kPrefix / sizeof kPrefix[0] - 1;
    const wchar_t* psz = GetCommandLineW();
    if (psz == nullptr)
        return nullptr;
    while (*psz != L'\0') {
        while (*psz == L' ' || *psz == L'\t')
            ++psz;
        const wchar_t* pszWord = psz;
        while (*psz != L'\0' && *psz != L' ' && *psz != L'\t')
            ++psz;
        if (static_cast<size_t>(psz - pszWord) <= nPrefix || wcsncmp(pszWord, kPrefix, nPrefix) != 0)
            continue;
        uint64_t nValue = 0;
        const wchar_t* pszDigit = pszWord + nPrefix;
        for (; pszDigit != psz && nValue <= UINT32_MAX; ++pszDigit) {
            if (*pszDigit < L'0' || *pszDigit > L'9')
                break;
            nValue = nValue * 10 + static_cast<uint64_t>(*pszDigit - L'0');
        }
        // Window handles are 32-bit values, also in a 64-bit process.
        if (pszDigit != psz || nValue == 0 || nValue > UINT32_MAX)
            continue;
        HWND hCandidate = reinterpret_cast<HWND>(static_cast<uintptr_t>(nValue));
        if (IsWindow(hCandidate))
            return GetAncestor(hCandidate, GA_ROOT);
    }
    return nullptr;
}

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
            {
                HWND hOwner = ParentWindowFromCommandLine();
                if (hOwner == nullptr)
                    hOwner = GetActiveWindow();
                nEndCode = dialog.DoModal(hOwner, pParams);
            }
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
