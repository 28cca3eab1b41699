#include "DoctorTexts.h"

#include <iterator>

namespace {

struct Text {
    DoctorTextId id;
    const char* pszEnglish;
    const char* pszChinese;
};

constexpr Text kTexts[] = {
    {DoctorTextId::Title, "Tessera doctor: why a certificate is or is not offered",
     "Tessera 诊断：证书为何出现或不出现"},
    {DoctorTextId::SectionBrowsers, "Browsers", "浏览器"},
    {DoctorTextId::SectionHost, "Host programs", "主机程序"},
    {DoctorTextId::SectionCertificates, "Certificates", "证书"},
    {DoctorTextId::SectionCards, "Smart cards and tokens", "智能卡与令牌"},
    {DoctorTextId::SectionSandboxes, "Sandboxed browsers", "沙盒中的浏览器"},
    {DoctorTextId::ManifestMissing, "{0}: no host manifest in {1}", "{0}：{1} 中没有主机清单"},
    {DoctorTextId::ManifestUnreadable, "{0}: {1} cannot be read as JSON", "{0}：{1} 不是可读的 JSON"},
    {DoctorTextId::ManifestWrongName, "{0}: {1} names another host", "{0}：{1} 指向另一个主机"},
    {DoctorTextId::ManifestNoExtension, "{0}: {1} does not allow Tessera's extension {2}",
     "{0}：{1} 未允许 Tessera 扩展 {2}"},
    {DoctorTextId::ManifestNoHost, "{0}: {1} names {2}, which is not a working host",
     "{0}：{1} 指向的 {2} 不是可用的主机"},
    {DoctorTextId::ManifestGood, "{0}: {1} starts {2}", "{0}：{1} 启动 {2}"},
    {DoctorTextId::ExtensionExternal, "{0}: the extension is installed for every profile by {1}",
     "{0}：{1} 为每个配置文件安装扩展"},
    {DoctorTextId::ExtensionInProfile, "{0}: the extension is in the profile {1}", "{0}：配置文件 {1} 中已有扩展"},
    {DoctorTextId::ExtensionNowhere, "{0}: the extension was not found for this browser", "{0}：未找到此浏览器的扩展"},
    {DoctorTextId::HostAnswered, "{0} answers ({1} ms)", "{0} 已应答（{1} 毫秒）"},
    {DoctorTextId::HostMissing, "{0} does not exist", "{0} 不存在"},
    {DoctorTextId::HostNotExecutable, "{0} is not executable", "{0} 不可执行"},
    {DoctorTextId::HostNoAnswer, "{0} gave no answer: {1}", "{0} 没有应答：{1}"},
    {DoctorTextId::HostBadAnswer, "{0} answered something that is not a host's answer",
     "{0} 的应答不是主机的应答"},
    {DoctorTextId::CertificateLine, "{0}", "{0}"},
    {DoctorTextId::CertificateDetail, "in {0}; {1} key, {2} bits", "位于 {0}；{1} 密钥，{2} 位"},
    {DoctorTextId::Offered, "offered", "可供选择"},
    {DoctorTextId::OfferedExpired, "offered (expired on {0}; the page decides whether it may sign)",
     "可供选择（已于 {0} 过期；是否可用于签名由页面决定）"},
    {DoctorTextId::NoPrivateKey, "not offered: no private key found", "不提供：未找到私钥"},
    {DoctorTextId::CaOnToken, "not offered: a certificate authority's certificate on a token",
     "不提供：令牌上的证书颁发机构证书"},
    {DoctorTextId::Duplicate, "not offered here: the same certificate is offered from an earlier place",
     "此处不提供：同一证书已从先前位置提供"},
    {DoctorTextId::NoSigningUsage, "not offered: its key usage does not include digital signatures",
     "不提供：密钥用法不包括数字签名"},
    {DoctorTextId::KeyUnobtainable, "not offered: its private key cannot be opened ({0})",
     "不提供：无法打开私钥（{0}）"},
    {DoctorTextId::NoCertificates, "no certificates found", "未找到证书"},
    {DoctorTextId::StoreFailed, "the certificate databases cannot be opened ({0})", "无法打开证书数据库（{0}）"},
    {DoctorTextId::PcscNotInstalled, "PC/SC: libpcsclite is not installed, so no reader is used",
     "PC/SC：未安装 libpcsclite，不使用读卡器"},
    {DoctorTextId::PcscNoService, "PC/SC: pcscd does not answer ({0}); start it or install the pcscd package",
     "PC/SC：pcscd 没有应答（{0}）；请启动它或安装 pcscd 软件包"},
    {DoctorTextId::PcscNoReaders, "PC/SC: pcscd answers, no reader is connected", "PC/SC：pcscd 已应答，未连接读卡器"},
    {DoctorTextId::PcscReader, "reader {0}: {1}", "读卡器 {0}：{1}"},
    {DoctorTextId::CardPresent, "a card is in it", "已插卡"},
    {DoctorTextId::CardAbsent, "no card", "无卡"},
    {DoctorTextId::ModuleLoaded, "PKCS#11 module {0} ({1}) loads", "PKCS#11 模块 {0}（{1}）可加载"},
    {DoctorTextId::ModuleFailed, "PKCS#11 module {0} ({1}) does not load: {2}", "PKCS#11 模块 {0}（{1}）无法加载：{2}"},
    {DoctorTextId::NoModules, "p11-kit registers no PKCS#11 module", "p11-kit 未注册任何 PKCS#11 模块"},
    {DoctorTextId::TokenLine, "slot {0}: token \"{1}\"", "插槽 {0}：令牌“{1}”"},
    {DoctorTextId::SlotEmpty, "slot {0}: no token", "插槽 {0}：无令牌"},
    {DoctorTextId::SnapFirefox,
     "Firefox is installed as a snap: it reaches the host through the WebExtensions portal, which asks once; a "
     "refusal stays in the portal's permission store until it is reset.",
     "Firefox 以 snap 安装：它通过 WebExtensions 门户访问主机，门户只询问一次；拒绝会一直保存在门户的权限库中，直到被重置。"},
    {DoctorTextId::SnapChromium,
     "Chromium is installed as a snap: it reads host manifests only inside its own folder, under ~/snap/chromium.",
     "Chromium 以 snap 安装：它只读取 ~/snap/chromium 下其自身目录中的主机清单。"},
    {DoctorTextId::Flatpak,
     "{0} is installed as a Flatpak: it cannot start programs outside its sandbox, so it needs a native-messaging "
     "proxy or a host inside the sandbox.",
     "{0} 以 Flatpak 安装：它无法启动沙盒之外的程序，需要本机消息代理或沙盒内的主机。"},
    {DoctorTextId::NoSandboxes, "no browser is installed as a snap or a Flatpak", "没有以 snap 或 Flatpak 安装的浏览器"},
    {DoctorTextId::VerdictGood, "A browser can start the host, and {0} certificate(s) are offered.",
     "浏览器可以启动主机，共有 {0} 个证书可供选择。"},
    {DoctorTextId::VerdictNoBrowser, "No browser can start a working host: register it (tools/register-browsers) "
                                     "or install the package.",
     "没有浏览器可以启动可用的主机：请注册主机（tools/register-browsers）或安装软件包。"},
    {DoctorTextId::VerdictNoCertificate, "No certificate is offered: see the reasons above.",
     "没有可供选择的证书：请参阅上面的原因。"},
    {DoctorTextId::MoreInReadme, "More in the README, section \"{0}\".", "详见 README 的“{0}”一节。"},
};

} // namespace

std::string DoctorText(UiLanguage language, DoctorTextId id, std::initializer_list<std::string_view> values)
{
    std::string_view format;
    for (const Text& text : kTexts) {
        if (text.id == id)
            format = language == UiLanguage::Chinese ? text.pszChinese : text.pszEnglish;
    }
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '{' && i + 2 < format.size() && format[i + 2] == '}' && format[i + 1] >= '0' &&
            format[i + 1] <= '9') {
            const size_t nValue = static_cast<size_t>(format[i + 1] - '0');
            if (nValue < values.size())
                out += *std::next(values.begin(), static_cast<std::ptrdiff_t>(nValue));
            i += 2;
            continue;
        }
        out += format[i];
    }
    return out;
}
