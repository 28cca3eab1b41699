#include "HostRequests.h"

#include <cjson/cJSON.h>
#include <gtest/gtest.h>

namespace tessera::test {

namespace {

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

} // namespace

std::string Request(const std::string& function, const std::vector<std::string>& params)
{
    std::string body = R"({"function":)" + JsonString(function) + R"(,"params":[)";
    for (size_t i = 0; i < params.size(); ++i)
        body += (i > 0 ? R"(,{"param":)" : R"({"param":)") + JsonString(params[i]) + '}';
    return body + "]}";
}

Response ParseResponse(const std::string& body)
{
    Response r;
    cJSON* pRoot = cJSON_Parse(body.c_str());
    EXPECT_NE(pRoot, nullptr) << body;
    if (pRoot == nullptr)
        return r;
    r.function = cJSON_GetObjectItem(pRoot, "function")->valuestring;
    r.errorcode = static_cast<int64_t>(cJSON_GetObjectItem(pRoot, "errorcode")->valuedouble);
    const cJSON* pResult = cJSON_GetObjectItem(pRoot, "result");
    if (cJSON_IsString(pResult))
        r.result = pResult->valuestring;
    r.bResultFalse = cJSON_IsFalse(pResult);
    cJSON_Delete(pRoot);
    return r;
}

Response HostConversation::Call(const std::string& function, const std::vector<std::string>& params)
{
    EXPECT_TRUE(m_session.Send(Frame(Request(function, params))));
    const auto body = m_session.Receive();
    EXPECT_TRUE(body.has_value()) << function << " got no answer";
    return body ? ParseResponse(*body) : Response{};
}

Response HostConversation::CallRaw(const std::string& body)
{
    EXPECT_TRUE(m_session.Send(Frame(body)));
    const auto reply = m_session.Receive();
    EXPECT_TRUE(reply.has_value());
    return reply ? ParseResponse(*reply) : Response{};
}

} // namespace tessera::test
