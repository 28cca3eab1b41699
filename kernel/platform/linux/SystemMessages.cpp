#include "kernel/platform/SystemMessages.h"

#include "kernel/platform/Language.h"
#include "kernel/platform/LastError.h"

namespace {

struct SystemMessage {
    uint32_t dwCode;
    const char16_t* pwszEnglish;
    const char16_t* pwszChinese;
};

constexpr SystemMessage kMessages[] = {
    {0x00000000, u"The operation completed successfully.\r\n", u"操作成功完成。\r\n"},
    {0x80070057, u"The parameter is incorrect.\r\n", u"参数错误。\r\n"},
    {0x80004003, u"Invalid pointer\r\n", u"无效指针\r\n"},
    {0x80004005, u"Unspecified error\r\n", u"未指定的错误\r\n"},
    {0x8007000E, u"Not enough memory resources are available to complete this operation.\r\n",
     u"内存资源不足，无法完成此操作。\r\n"},
    {0x80070002, u"The system cannot find the file specified.\r\n", u"系统找不到指定的文件。\r\n"},
    {0x80090008, u"Invalid algorithm specified.\r\n", u"指定了无效的算法。\r\n"},
    {0x8009002D, u"An internal error occurred.\r\n", u"出现了内部错误。\r\n"},
    {0x80090020, u"An internal error occurred.\r\n", u"出现了内部错误。\r\n"},
    {0x8009200B, u"Cannot find the certificate and private key for decryption.\r\n",
     u"找不到用于解密的证书和私钥。\r\n"},
    {0x8010006E, u"The action was cancelled by the user.\r\n", u"操作已被用户取消。\r\n"},
    {0x8010006B, u"The card cannot be accessed because the wrong PIN was presented.\r\n",
     u"由于出示了错误的 PIN，无法访问卡。\r\n"},
    {0x8010006C, u"The card cannot be accessed because the maximum number of PIN entry attempts has been reached.\r\n",
     u"由于 PIN 输入尝试次数已达上限，无法访问卡。\r\n"},
    {0x80100069, u"The smart card has been removed, so that further communication is not possible.\r\n",
     u"智能卡已被移除，无法继续通信。\r\n"},
    // Reported when the certificate selection dialog cannot be created.
    {0x80070578, u"Invalid window handle.\r\n", u"无效的窗口句柄。\r\n"},
};

} // namespace

uint32_t FormatSystemMessage(uint32_t dwMessageId, char16_t* buf, uint32_t cchBuffer)
{
    for (const auto& msg : kMessages) {
        if (msg.dwCode != dwMessageId)
            continue;
        if (buf == nullptr || cchBuffer == 0)
            break;
        const char16_t* pwszText = GetUserUiLanguage() == UiLanguage::Chinese ? msg.pwszChinese : msg.pwszEnglish;
        uint32_t n = 0;
        for (; n < cchBuffer - 1 && pwszText[n] != u'\0'; ++n)
            buf[n] = pwszText[n];
        buf[n] = u'\0';
        return n;
    }
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
}
