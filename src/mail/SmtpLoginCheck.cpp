#include "mail/SmtpLoginCheck.h"

#include <curl/curl.h>

#include <memory>

#include "base/Error.h"

namespace quorvel {
namespace {

struct CurlFree { void operator()(CURL* c) const { curl_easy_cleanup(c); } };

void Check(CURLcode code) {
    if (code != CURLE_OK) throw Error(code, curl_easy_strerror(code));
}

// The server's answer to NOOP arrives as data; nobody needs it.
std::size_t Discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }

}  // namespace

void CheckSmtpLogin(const SmtpSettings& smtp) {
    std::unique_ptr<CURL, CurlFree> curl(curl_easy_init());
    if (!curl) Check(CURLE_FAILED_INIT);
    CURL* c = curl.get();
    Check(curl_easy_setopt(c, CURLOPT_URL, smtp.Url().c_str()));
    Check(curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp"));
    Check(curl_easy_setopt(c, CURLOPT_USERNAME, smtp.User.c_str()));
    Check(curl_easy_setopt(c, CURLOPT_PASSWORD, smtp.Password.c_str()));
    Check(curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, smtp.Timeout));
    Check(curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, smtp.Timeout));
    Check(curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L));
    Check(curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, "NOOP"));
    Check(curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Discard));
    Check(curl_easy_perform(c));
}

}  // namespace quorvel
