// Tessera's string tables: the dialog's texts, and the descriptions of its
// own status codes (a status 0xA007xxxx is described by entry xxxx). Both
// tables are sorted by id.
#include "StringTable.h"

namespace {

constexpr StringResource kEnglish[] = {
    // The certificate selection dialog.
    {203, u"Select a Certificate"},
    {205, u"Issuer: %ws"},
    {206, u"SN: %ws"},
    {207, u"Valid From: %02d/%02d/%04d to %02d/%02d/%04d"},
    // Descriptions of Tessera's own status codes.
    {0x1001, u"There is no available certificate in store."},
    {0x1002, u"User canceled operation."},
    {0x1003, u"Query type is not supported."},
    {0x1004, u"Base64 encoding failed."},
    {0x1005, u"Base64 decoding failed."},
    {0x1006, u"Malicious target path or file name."},
    {0x1007, u"Empty file"},
    {0x1008, u"The number of signer in pkcs#7 signature is too many."},
    {0x1020, u"Specified certificate doesn't contain key usage attribute."},
    {0x1021, u"Specified certificate doesn't contain subject key ID attribute."},
    {0x1022, u"Get specified extension failed."},
    {0x1031, u"Certificate in certificate chain is time invalid"},
    {0x1032, u"Certificate is in offline CRL"},
    {0x1033, u"Certificate chain is not integrated"},
    {0x1034, u"Signature of certificate in certificate chain is invalid"},
    {0x1035, u"Special cert isn't exsit"},
    {0x1041, u"ASN1 decode failed."},
    {0x1042, u"PKCS7 singature decode failed."},
    {0x1101, u"Data length exceeds limited"},
    {0x1102, u"The depth of recursive exceeds limited."},
    {0x1103, u"Decode SM2 file certificate failed."},
    {0x1104, u"Invalid PKCS7 singature format."},
    {0x1105, u"Invalid CMS envelope format."},
    {0x1106, u"SM2 file certificate for decrpting envelope is not exsits."},
    {0x1107, u"Sing failed."},
    {0x1108, u"Decrypt SM2 file certificate failed."},
    {0x2001, u"Certificate is not ready."},
    {0x2002, u"Language is not supported."},
    {0x2003, u"Certificate is not unique for specified subject DN."},
    {0x2020, u"Invalid hash algorithm."},
    {0x2021, u"Invalid certificate usage."},
    {0x2022, u"Invalid sign type."},
    {0x2023, u"Invalid envelope type."},
    {0x2024, u"Data exceeds limited"},
    {0x2025, u"Data isn't ready"},
    {0x2026, u"The file size exceeds the limit allowed."},
    {0x2401, u"Invalid key algorithm."},
};

constexpr StringResource kChinese[] = {
    // The certificate selection dialog.
    {203, u"选择证书"},
    {205, u"颁发者: %ws"},
    {206, u"序列号: %ws"},
    {207, u"有效期: %02d/%02d/%04d 至 %02d/%02d/%04d"},
    // Descriptions of Tessera's own status codes.
    {0x1001, u"证书库中没有可用的证书"},
    {0x1002, u"用户取消选择证书"},
    {0x1003, u"查询类型不支持"},
    {0x1004, u"Base64加密失败"},
    {0x1005, u"Base64解密失败"},
    {0x1006, u"恶意的目标路径或文件名"},
    {0x1007, u"文件为空"},
    {0x1008, u"PKCS#7签名中签名者个数过多"},
    {0x1020, u"指定证书不含有密钥用途属性"},
    {0x1021, u"指定证书不含有使用者密钥标识符属性"},
    {0x1022, u"获取指定的证书拓展域信息失败"},
    {0x1031, u"证书链中某个证书时间无效"},
    {0x1032, u"证书在离线的CRL列表中"},
    {0x1033, u"证书链不完整"},
    {0x1034, u"证书链中某个证书签名无效"},
    {0x1035, u"指定证书不存在"},
    {0x1041, u"ASN.1解码失败"},
    {0x1042, u"PKCS7 签名解析失败"},
    {0x1101, u"数据长度超出最大限制"},
    {0x1102, u"递归深度超过最大限制"},
    {0x1103, u"SM2文件证书解析错误"},
    {0x1104, u"无效的P7签名格式"},
    {0x1105, u"无效的CMS数字信封格式"},
    {0x1106, u"未找到匹配的SM2解密证书"},
    {0x1107, u"签名失败"},
    {0x1108, u"解密SM2文件证书失败"},
    {0x2001, u"证书没有准备好"},
    {0x2002, u"语言不支持"},
    {0x2003, u"指定主题DN的证书不唯一"},
    {0x2020, u"无效的哈希算法"},
    {0x2021, u"无效的证书用法"},
    {0x2022, u"无效的签名类型"},
    {0x2023, u"无效的数字信封类型"},
    {0x2024, u"数据大小超出限制"},
    {0x2025, u"数据没有准备好"},
    {0x2026, u"文件大小超出限制"},
    {0x2401, u"无效的密钥算法"},
};

} // namespace

const std::span<const StringResource> g_EnglishStringTable(kEnglish);
const std::span<const StringResource> g_ChineseStringTable(kChinese);
