#include <gtest/gtest.h>

#include <string>

#include "host/JSONUtility.h"

namespace {

std::string Printed(const char* pszFuncName, HRESULT nCode, const char* pszResult)
{
    JsonPtr pResponse;
    EXPECT_EQ(ConstructResponseJSON(pszFuncName, nCode, pszResult, &pResponse), KVRA_OK);
    std::string strText;
    EXPECT_EQ(ConvertJSONToResponseMsg(pszFuncName, pResponse.get(), &strText), KVRA_OK);
    return strText;
}

JsonPtr Params(const char* pszRequest)
{
    JsonPtr pParams;
    EXPECT_EQ(ParseRequestMsgToJSON(pszRequest, &pParams, nullptr), KVRA_OK) << pszRequest;
    return pParams;
}

} // namespace

TEST(ParseRequest, RejectsWhatIsNotARequest)
{
    std::string strName = "untouched";
    EXPECT_EQ(ParseRequestMsgToJSON(nullptr, nullptr, &strName), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ParseRequestMsgToJSON("", nullptr, &strName), ERROR_INVALID_PARAMETER);
    for (const char* pszBad : {R"({"function":42,"params":[]})", R"({"params":[]})", "[1,2]", "{",
                               R"({"function":"x"})", R"({"function":null,"params":[]})", "null"}) {
        EXPECT_EQ(ParseRequestMsgToJSON(pszBad, nullptr, &strName), -1) << pszBad;
    }
    EXPECT_EQ(strName, "untouched");
}

TEST(ParamItem, TakesEachParamAndRejectsMalformedOnes)
{
    const JsonPtr pParams = Params(R"({"function":"f","params":[{"param":"a"},{"PARAM":"b"},{"param":""}]})");
    std::string strItem;
    EXPECT_EQ(ConverJSONArrayItemtoNULLEndString(pParams.get(), 1, &strItem), KVRA_OK);
    EXPECT_EQ(strItem, "b");
    EXPECT_EQ(ConverJSONArrayItemtoNULLEndString(pParams.get(), 2, &strItem), KVRA_OK);
    EXPECT_EQ(strItem, "");
    EXPECT_EQ(ConverJSONArrayItemtoNULLEndString(pParams.get(), 3, &strItem), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ConverJSONArrayItemtoNULLEndString(pParams.get(), -1, &strItem), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ConverJSONArrayItemtoNULLEndString(nullptr, 0, &strItem), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ConverJSONArrayItemtoNULLEndString(Params(R"({"function":"f","params":[]})").get(), 0, &strItem),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ConverJSONArrayItemtoNULLEndString(Params(R"({"function":"f","params":["a"]})").get(), 0, &strItem),
              NTE_INTERNAL_ERROR);
    EXPECT_EQ(ConverJSONArrayItemtoNULLEndString(Params(R"({"function":"f","params":[{"param":1}]})").get(), 0,
                                                 &strItem),
              KVRA_E_PARAM_NOT_STRING);
    EXPECT_EQ(ConverJSONArrayItemtoNULLEndString(Params(R"({"function":"f","params":[{}]})").get(), 0, &strItem),
              KVRA_E_PARAM_NOT_STRING);
    // Elements of a non-array are walked like array elements.
    EXPECT_EQ(ConverJSONArrayItemtoNULLEndString(
                  Params(R"({"function":"f","params":{"k":{"param":"v"}}})").get(), 0, &strItem),
              KVRA_OK);
    EXPECT_EQ(strItem, "v");
}

TEST(Response, PrintsExactlyWhatPagesExpect)
{
    EXPECT_EQ(Printed("SignMessage", KVRA_OK, "abc"), R"({"function":"SignMessage","errorcode":0,"result":"abc"})");
    EXPECT_EQ(Printed("SignMessage", KVRA_E_SEND_MSG_TOO_LONG, "abc"),
              R"({"function":"SignMessage","errorcode":-1610141183,"result":false})");
    EXPECT_EQ(Printed("SignMessage", KVRA_OK, nullptr), R"({"function":"SignMessage","errorcode":0})");
    EXPECT_EQ(Printed("SignMessage", NTE_INTERNAL_ERROR, nullptr),
              R"({"function":"SignMessage","errorcode":-2146893779,"result":false})");
    EXPECT_EQ(Printed("F", -1, nullptr), R"({"function":"F","errorcode":-1,"result":false})");
    EXPECT_EQ(Printed("F", KVRA_OK, "line\nquote\"back\\slash/\t\x01\r\b\f"),
              R"({"function":"F","errorcode":0,"result":"line\nquote\"back\\slash/\t\u0001\r\b\f"})");
    EXPECT_EQ(Printed("F", KVRA_OK, "中文"), R"({"function":"F","errorcode":0,"result":"中文"})");

    JsonPtr pResponse;
    EXPECT_EQ(ConstructResponseJSON("", KVRA_OK, "x", &pResponse), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ConstructResponseJSON(nullptr, KVRA_OK, "x", &pResponse), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(pResponse);
    EXPECT_EQ(ConstructResponseJSON("F", KVRA_OK, "x", nullptr), KVRA_OK);
}

TEST(Response, WithoutAnObjectTheFixedFailureTextIsSent)
{
    std::string strText;
    EXPECT_EQ(ConvertJSONToResponseMsg("abc", nullptr, &strText), KVRA_OK);
    EXPECT_EQ(strText, R"({"function":"abc", "errorcode":-2146893779, "result":false})");
    EXPECT_EQ(ConvertJSONToResponseMsg(nullptr, nullptr, &strText), KVRA_OK);
    EXPECT_EQ(strText, R"({"function":"", "errorcode":-2146893779, "result":false})");
}

TEST(ParamItem, TextHoldingNulIsNeverCutShort)
{
    // A value holding U+0000 is refused rather than read up to it, wherever
    // the U+0000 stands and however deep the value lies.
    std::string strItem = "untouched";
    for (const char* pszRequest :
         {R"({"function":"f","params":[{"param":"abc\u0000EVIL"}]})", R"({"function":"f","params":[{"param":"\u0000"}]})",
          R"({"function":"f","params":[{"param":"abc\u0000"}]})",
          R"({"x":{"y":["\u0000",{"z":"\u0000"}]},"function":"f","params":[{"param":"a\u0000"}]})"}) {
        EXPECT_EQ(ConverJSONArrayItemtoNULLEndString(Params(pszRequest).get(), 0, &strItem), E_INVALIDARG)
            << pszRequest;
    }
    EXPECT_EQ(strItem, "untouched");

    // Only the strings that held it are refused; an escaped backslash
    // before u0000 is text, and so is a U+0000 outside the value.
    const JsonPtr pParams = Params(
        R"({"note":"\u0000","function":"f","params":[{"param":"a\\u0000"},{"param":"x\u0000"},{"param":"\"\\\u0000"},{"param":"\u00001"}],"z":"\u0000"})");
    EXPECT_EQ(ConverJSONArrayItemtoNULLEndString(pParams.get(), 0, &strItem), KVRA_OK);
    EXPECT_EQ(strItem, "a\\u0000");
    EXPECT_EQ(ConverJSONArrayItemtoNULLEndString(pParams.get(), 1, &strItem), E_INVALIDARG);
    EXPECT_EQ(ConverJSONArrayItemtoNULLEndString(pParams.get(), 2, &strItem), E_INVALIDARG);
    EXPECT_EQ(ConverJSONArrayItemtoNULLEndString(pParams.get(), 3, &strItem), E_INVALIDARG);

    // A member name holding U+0000 is not the name it starts like.
    EXPECT_EQ(ConverJSONArrayItemtoNULLEndString(
                  Params(R"({"function":"f","params":[{"param\u0000":"cut","PARAM":"whole"}]})").get(), 0, &strItem),
              KVRA_OK);
    EXPECT_EQ(strItem, "whole");
    std::string strName;
    EXPECT_EQ(ParseRequestMsgToJSON(R"({"function\u0000x":"f","params":[]})", nullptr, &strName), -1);
    EXPECT_EQ(ParseRequestMsgToJSON(R"({"function":"f","params\u0000":[]})", nullptr, &strName), -1);
    EXPECT_EQ(ParseRequestMsgToJSON(R"({"function":"GetLastErrorDesc\u0000","params":[]})", nullptr, &strName), -1);
    EXPECT_EQ(ParseRequestMsgToJSON(R"({"function":"f\\u0000","params":[]})", nullptr, &strName), KVRA_OK);
    EXPECT_EQ(strName, "f\\u0000");
}
