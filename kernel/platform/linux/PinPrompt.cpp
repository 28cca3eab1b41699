#include "PinPrompt.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kernel/platform/Language.h"
#include "NssSession.h"

extern char** environ;

namespace {

// Wrong PINs accepted in one operation before it fails as a wrong PIN.
constexpr int kMaxWrongPins = 3;

// Assuan lines escape '%', CR and LF.
std::string AssuanEscape(const std::string& str)
{
    std::string out;
    for (char c : str) {
        if (c == '%' || c == '\r' || c == '\n') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

std::string AssuanUnescape(const std::string& str)
{
    std::string out;
    for (size_t i = 0; i < str.size(); ++i) {
        if (str[i] == '%' && i + 2 < str.size()) {
            out += static_cast<char>(std::strtol(str.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += str[i];
        }
    }
    return out;
}

// A name as a description shows it: pinentry ends the conversation at an
// Assuan line of about 1000 bytes, and the prompt then never shows, so a
// name (a certificate's, a profile's, chosen by whoever made it) is cut at
// about 200 bytes as written on the line, on a character boundary.
std::string ShownName(const std::string& strName)
{
    constexpr size_t kMaxEscaped = 200;
    size_t cbEscaped = 0, nCut = 0;
    for (; nCut < strName.size(); ++nCut) {
        const char c = strName[nCut];
        cbEscaped += c == '%' || c == '\r' || c == '\n' ? 3 : 1;
        if (cbEscaped > kMaxEscaped)
            break;
    }
    if (nCut == strName.size())
        return strName;
    while (nCut > 0 && (static_cast<unsigned char>(strName[nCut]) & 0xC0) == 0x80)
        --nCut; // not inside a UTF-8 sequence
    return strName.substr(0, nCut) + "…";
}

// Overwrites a string that held a PIN before it goes.
void Wipe(std::string& str)
{
    volatile char* p = str.data();
    for (size_t i = 0; i < str.size(); ++i)
        p[i] = 0;
    str.clear();
}

// A running pinentry with line-based pipes.
class PinentryProcess {
public:
    bool Start()
    {
        int toChild[2], fromChild[2];
        if (pipe2(toChild, O_CLOEXEC) != 0)
            return false;
        if (pipe2(fromChild, O_CLOEXEC) != 0) {
            close(toChild[0]);
            close(toChild[1]);
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
        // The host's own streams carry the browser protocol: pinentry gets
        // none of them.
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        char szName[] = "pinentry";
        char* argv[] = {szName, nullptr};
        const int nError = posix_spawnp(&m_pid, "pinentry", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(toChild[0]);
        close(fromChild[1]);
        m_fdIn = toChild[1];
        m_fdOut = fromChild[0];
        if (nError != 0) {
            m_pid = -1;
            return false;
        }
        std::string strGreeting;
        return ReadLine(strGreeting) && strGreeting.starts_with("OK");
    }

    ~PinentryProcess()
    {
        if (m_fdIn >= 0)
            close(m_fdIn);
        if (m_fdOut >= 0)
            close(m_fdOut);
        if (m_pid > 0) {
            int status;
            while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
    }

    // Sends a command without waiting for its answer.
    bool Send(const std::string& strCommand) { return WriteAll(strCommand + "\n"); }

    // Ends pinentry while it may still be showing a message: closing its
    // input is not enough, since it reads none while a dialog is up.
    void Terminate()
    {
        if (m_fdIn >= 0) {
            close(m_fdIn);
            m_fdIn = -1;
        }
        if (m_pid > 0)
            kill(m_pid, SIGTERM);
    }

    // Sends a command and reads up to its closing OK or ERR. Data lines are
    // collected into strData. Returns true for OK.
    bool Command(const std::string& strCommand, std::string* pstrData = nullptr)
    {
        const std::string strLine = strCommand + "\n";
        if (!WriteAll(strLine))
            return false;
        for (std::string strReply; ReadLine(strReply);) {
            if (strReply == "OK" || strReply.starts_with("OK "))
                return true;
            if (strReply.starts_with("ERR"))
                return false;
            if (strReply.starts_with("D ") && pstrData != nullptr)
                *pstrData += AssuanUnescape(strReply.substr(2));
            Wipe(strReply);
        }
        return false;
    }

private:
    bool WriteAll(const std::string& str)
    {
        size_t off = 0;
        while (off < str.size()) {
            const ssize_t n = write(m_fdIn, str.data() + off, str.size() - off);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            off += static_cast<size_t>(n);
        }
        return true;
    }

    bool ReadLine(std::string& strLine)
    {
        strLine.clear();
        for (;;) {
            char c;
            const ssize_t n = read(m_fdOut, &c, 1);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            if (c == '\n')
                return true;
            strLine += c;
        }
    }

    pid_t m_pid = -1;
    int m_fdIn = -1;
    int m_fdOut = -1;
};

} // namespace

// pinentry in its message mode, left showing until the login it stands for
// returns; then ended, whether or not the user has dismissed it.
class PadNotice {
public:
    PadNotice(const std::string& strTitle, const std::string& strDescription)
    {
        if (!m_pinentry.Start())
            return;
        m_pinentry.Command("SETTITLE " + AssuanEscape(strTitle));
        m_pinentry.Command("SETDESC " + AssuanEscape(strDescription));
        // Answered only when the user dismisses it, if ever: not waited for.
        m_pinentry.Send("MESSAGE");
    }
    PadNotice(const PadNotice&) = delete;
    PadNotice& operator=(const PadNotice&) = delete;
    ~PadNotice() { m_pinentry.Terminate(); }

private:
    PinentryProcess m_pinentry;
};

bool AskPinentry(const std::string& strTitle, const std::string& strDescription, const std::string& strPrompt,
                 const std::string& strError, std::string& strPin)
{
    PinentryProcess pinentry;
    if (!pinentry.Start())
        return false;
    pinentry.Command("SETTITLE " + AssuanEscape(strTitle));
    pinentry.Command("SETDESC " + AssuanEscape(strDescription));
    pinentry.Command("SETPROMPT " + AssuanEscape(strPrompt));
    if (!strError.empty())
        pinentry.Command("SETERROR " + AssuanEscape(strError));
    std::string strData;
    const bool bGotPin = pinentry.Command("GETPIN", &strData);
    pinentry.Command("BYE");
    if (bGotPin)
        strPin = strData;
    Wipe(strData);
    return bGotPin;
}

namespace {

// Asks the user through pinentry; the PIN typed, for NSS (allocated with
// PORT_Strdup), or null after a cancel, which the context records.
char* AskForPin(PinPromptContext& context, const std::string& strDescription, const std::string& strPrompt,
                const std::string& strError)
{
    std::string strPin;
    if (!AskPinentry("Tessera", strDescription, strPrompt, strError, strPin)) {
        context.bCancelled = true;
        return nullptr;
    }
    char* pszPin = PORT_Strdup(strPin.c_str());
    context.strPin.swap(strPin);
    Wipe(strPin);
    return pszPin;
}

} // namespace

PinPromptContext::PinPromptContext() = default;

PinPromptContext::~PinPromptContext()
{
    ForgetPin();
}

void PinPromptContext::ForgetPin()
{
    Wipe(strPin);
    CloseNotice();
}

void PinPromptContext::CloseNotice()
{
    pNotice.reset();
}

namespace {

// For a token whose reader takes the PIN on its own pad: no PIN is asked on
// screen. NSS logs in without one once this returns, and the reader then
// waits for the PIN; meanwhile a notice says where to type it. A wrong PIN
// there brings the next call, with bRetry set.
char* AskOnPad(PK11SlotInfo* pSlot, PRBool bRetry, PinPromptContext& context)
{
    // The login the previous notice stood for has returned.
    context.CloseNotice();
    if (!context.pPadSlot)
        context.pPadSlot.reset(PK11_ReferenceSlot(pSlot));
    CK_TOKEN_INFO info{};
    const bool bHaveInfo = PK11_GetTokenInfo(pSlot, &info) == SECSuccess;
    if (bHaveInfo && (info.flags & CKF_USER_PIN_LOCKED)) {
        context.bBlocked = true;
        return nullptr;
    }
    if (bRetry && ++context.nWrongPins >= kMaxWrongPins) {
        context.bGaveUp = true;
        return nullptr;
    }
    const bool bChinese = GetUserUiLanguage() == UiLanguage::Chinese;
    const std::string strToken = ShownName(PK11_GetTokenName(pSlot));
    const std::string strCert = ShownName(context.strCertName);
    std::string strDescription;
    if (bRetry)
        strDescription = bChinese ? "PIN 错误，请重新输入。\n" : "Wrong PIN. Please try again.\n";
    if (bRetry && bHaveInfo && (info.flags & CKF_USER_PIN_FINAL_TRY))
        strDescription += bChinese ? "这是最后一次尝试，再次出错将锁定令牌。\n"
                                   : "This is the last try before the token locks.\n";
    if (bChinese)
        strDescription += "请在读卡器的密码键盘上输入令牌“" + strToken + "”的 PIN，以使用证书“" + strCert +
                          "”签名。";
    else
        strDescription += "Enter the PIN of the token \"" + strToken + "\" on the reader's PIN pad to sign with the " +
                          "certificate \"" + strCert + "\".";
    // Without a notice (no pinentry to show it) the pad still takes the PIN.
    context.pNotice = std::make_unique<PadNotice>("Tessera", strDescription);
    // NSS passes no PIN to a token with a pad, whatever this holds, as long
    // as it is neither PK11_PW_RETRY nor PK11_PW_AUTHENTICATED.
    return PORT_Strdup("");
}

} // namespace

char* PinPromptCallback(PK11SlotInfo* pSlot, PRBool bRetry, void* pvContext)
{
    auto* pContext = static_cast<PinPromptContext*>(pvContext);
    // Without an operation's context nobody asked for a prompt; after a
    // cancel nothing more is asked.
    if (pContext == nullptr || pContext->bCancelled || pContext->bBlocked || pContext->bGaveUp)
        return nullptr;
    if (PK11_ProtectedAuthenticationPath(pSlot))
        return AskOnPad(pSlot, bRetry, *pContext);
    // A second login in the same operation (the key's own, after the
    // token's) takes the PIN the user has just typed. Should that fail, the
    // user is asked as for any wrong PIN.
    if (!bRetry && !pContext->strPin.empty())
        return PORT_Strdup(pContext->strPin.c_str());
    pContext->ForgetPin();

    CK_TOKEN_INFO info{};
    const bool bHaveInfo = PK11_GetTokenInfo(pSlot, &info) == SECSuccess;
    if (bHaveInfo && (info.flags & CKF_USER_PIN_LOCKED)) {
        pContext->bBlocked = true;
        return nullptr;
    }
    if (bRetry && ++pContext->nWrongPins >= kMaxWrongPins) {
        pContext->bGaveUp = true;
        return nullptr;
    }

    const bool bChinese = GetUserUiLanguage() == UiLanguage::Chinese;
    const std::string strToken = ShownName(PK11_GetTokenName(pSlot));
    const std::string strCert = ShownName(pContext->strCertName);
    std::string strDescription, strError;
    // A Firefox profile's database is unlocked by the profile's primary
    // password, which its owner knows by the profile's name.
    if (const ProfileDatabase* pProfile = FindProfileDatabase(pSlot)) {
        if (bChinese) {
            strDescription = "请输入 Firefox 配置文件“" + ShownName(pProfile->strName) + "”的主密码，以使用证书“" +
                             strCert + "”签名。";
            if (bRetry)
                strError = "密码错误，请重新输入。";
        } else {
            strDescription = "Enter the primary password of the Firefox profile \"" + ShownName(pProfile->strName) +
                             "\" to sign with the certificate \"" + strCert + "\".";
            if (bRetry)
                strError = "Wrong password. Please try again.";
        }
        return AskForPin(*pContext, strDescription, bChinese ? "密码：" : "Password:", strError);
    }
    if (bChinese) {
        strDescription = "请输入令牌“" + strToken + "”的 PIN，以使用证书“" + strCert + "”签名。";
        if (bRetry)
            strError = "PIN 错误，请重新输入。";
    } else {
        strDescription =
            "Enter the PIN of the token \"" + strToken + "\" to sign with the certificate \"" + strCert + "\".";
        if (bRetry)
            strError = "Wrong PIN. Please try again.";
    }
    if (bRetry && bHaveInfo && (info.flags & CKF_USER_PIN_FINAL_TRY))
        strError += bChinese ? "这是最后一次尝试，再次出错将锁定令牌。" : " This is the last try before the token locks.";

    return AskForPin(*pContext, strDescription, bChinese ? "PIN：" : "PIN:", strError);
}
