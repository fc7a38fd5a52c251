#include "smtp/TokenEndpoint.h"

#include <nlohmann/json.hpp>
#include <vector>

#include "base/Utf8Text.h"
#include "smtp/SmtpConnection.h"
#include "smtp/SmtpFailure.h"

namespace quorvel {
namespace {

// The endpoint's answer is read up to this many bytes; a token reply is far smaller.
constexpr std::size_t kReplyLimit = 256 * 1024;
// The endpoint's words are kept to this many characters in a failure text.
constexpr std::size_t kWordsLimit = 300;

struct Reply {
    std::string body;
    bool tooLong = false;
};

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* arg) {
    auto* reply = static_cast<Reply*>(arg);
    if (reply->body.size() + size * count > kReplyLimit) {
        reply->tooLong = true;
        return 0;
    }
    reply->body.append(data, size * count);
    return size * count;
}

std::string Escaped(CURL* curl, const std::string& value) {
    char* escaped = curl_easy_escape(curl, value.c_str(), static_cast<int>(value.size()));
    if (escaped == nullptr) CheckCurl(CURLE_OUT_OF_MEMORY);
    std::string text(escaped);
    curl_free(escaped);
    return text;
}

std::string Form(CURL* curl, const OAuthSettings& oauth, const std::string& refreshToken) {
    std::string form =
        "grant_type=" + GrantType(refreshToken) + "&client_id=" + Escaped(curl, oauth.ClientId);
    if (!oauth.ClientSecret.empty()) form += "&client_secret=" + Escaped(curl, oauth.ClientSecret);
    if (!refreshToken.empty()) form += "&refresh_token=" + Escaped(curl, refreshToken);
    if (!oauth.Scope.empty()) form += "&scope=" + Escaped(curl, oauth.Scope);
    return form;
}

// `text` with every secret in it blanked, on one line and cut short.
std::string Shown(std::string text, const std::vector<std::string>& secrets) {
    for (const std::string& secret : secrets) {
        if (secret.empty()) continue;
        for (std::size_t at; (at = text.find(secret)) != std::string::npos;)
            text.replace(at, secret.size(), "***");
    }
    return std::string(CutAtCharacter(CleanLogText(text), kWordsLimit));
}

std::string Field(const nlohmann::json& json, const char* name) {
    const auto found = json.find(name);
    return found != json.end() && found->is_string() ? found->get<std::string>() : "";
}

// expires_in as a number or, as some endpoints send it, a decimal text; 0 when absent or unusable.
long long ExpiresIn(const nlohmann::json& json) {
    const auto found = json.find("expires_in");
    if (found == json.end()) return 0;
    if (found->is_number_integer()) return found->get<long long>();
    if (found->is_number()) return static_cast<long long>(found->get<double>());
    const std::string text = found->is_string() ? found->get<std::string>() : "";
    return !text.empty() && text.size() < 12 &&
                   text.find_first_not_of("0123456789") == std::string::npos
               ? std::stoll(text)
               : 0;
}

}  // namespace

std::string GrantType(const std::string& refreshToken) {
    return refreshToken.empty() ? "client_credentials" : "refresh_token";
}

TokenGrant RequestToken(const SmtpSettings& smtp, const std::string& refreshToken) {
    const OAuthSettings& oauth = smtp.OAuth;
    const std::vector<std::string> secrets = {oauth.ClientSecret, refreshToken, oauth.RefreshToken};
    Curl handle = NewCurl();
    CURL* curl = handle.get();
    char errors[CURL_ERROR_SIZE] = {};
    Reply reply;
    const std::string form = Form(curl, oauth, refreshToken);
    SetCurl(curl, CURLOPT_ERRORBUFFER, errors);
    SetCurl(curl, CURLOPT_URL, oauth.TokenUrl.c_str());
    SetCurl(curl, CURLOPT_PROTOCOLS_STR, "https");
    SetCurl(curl, CURLOPT_FOLLOWLOCATION, 0L);
    SetCurl(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    SetCurl(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!smtp.CAFile.empty()) SetCurl(curl, CURLOPT_CAINFO, smtp.CAFile.c_str());
    SetCurl(curl, CURLOPT_CONNECTTIMEOUT, smtp.Timeout);
    SetCurl(curl, CURLOPT_TIMEOUT, smtp.Timeout);
    SetCurl(curl, CURLOPT_NOSIGNAL, 1L);
    SetCurl(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(form.size()));
    SetCurl(curl, CURLOPT_POSTFIELDS, form.c_str());
    SetCurl(curl, CURLOPT_WRITEFUNCTION, &Collect);
    SetCurl(curl, CURLOPT_WRITEDATA, &reply);
    const std::string grant = GrantType(refreshToken);
    const CURLcode code = curl_easy_perform(curl);
    if (reply.tooLong)
        throw SmtpFailure(CURLE_WEIRD_SERVER_REPLY, 0, "the token endpoint's answer is too long");
    if (code != CURLE_OK) {
        const std::string said = errors[0] != '\0' ? errors : curl_easy_strerror(code);
        throw SmtpFailure(code, 0, "the token endpoint cannot be used: " + Shown(said, secrets));
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    const nlohmann::json json = nlohmann::json::parse(reply.body, nullptr, false);
    const bool object = json.is_object();
    const std::string error = object ? Field(json, "error") : "";
    const std::string description = object ? Field(json, "error_description") : "";
    const std::string words =
        error.empty()
            ? ""
            : ": " + Shown(error + (description.empty() ? "" : ": " + description), secrets);
    const std::string answered =
        "the token endpoint answered " + std::to_string(status) + " to the " + grant + " grant";
    if (status == 408 || status == 429 || status >= 500)
        throw SmtpFailure(CURLE_WEIRD_SERVER_REPLY, 0, answered + words);
    if (status != 200) throw SmtpFailure(CURLE_LOGIN_DENIED, 0, answered + words);
    TokenGrant granted;
    granted.AccessToken = object ? Field(json, "access_token") : "";
    if (granted.AccessToken.empty())
        throw SmtpFailure(CURLE_WEIRD_SERVER_REPLY, 0, answered + " without an access token");
    granted.ExpiresIn = std::chrono::seconds(ExpiresIn(json));
    granted.RefreshToken = Field(json, "refresh_token");
    return granted;
}

}  // namespace quorvel
