#include "webpost/http_request.h"

#include <gtest/gtest.h>

#include "webpost/webpostthread.h"

namespace {

using webpost::BuildPostRequest;
using webpost::HttpUrl;
using webpost::ParseHttpUrl;

TEST(ParseHttpUrl, TakesHostPortAndTarget) {
  std::optional<HttpUrl> url = ParseHttpUrl("http://lists.example.org:8080/a/b.php?x=1&y=2");
  ASSERT_TRUE(url);
  EXPECT_EQ(url->host, "lists.example.org");
  EXPECT_EQ(url->port, 8080);
  EXPECT_EQ(url->target, "/a/b.php?x=1&y=2");

  url = ParseHttpUrl("HTTP://127.0.0.1");
  ASSERT_TRUE(url);
  EXPECT_EQ(url->host, "127.0.0.1");
  EXPECT_EQ(url->port, 80);
  EXPECT_EQ(url->target, "/");

  // A query straight after the host still gets the root path in front of it.
  url = ParseHttpUrl("http://h?q=1");
  ASSERT_TRUE(url);
  EXPECT_EQ(url->host, "h");
  EXPECT_EQ(url->target, "/?q=1");
}

TEST(ParseHttpUrl, RefusesWhatItCannotReach) {
  for (const char* text :
       {"", "https://h/", "ftp://h/", "h/x", "http://", "http:///x", "http://:80/", "http://h:/",
        "http://h:0/", "http://h:65536/", "http://h:8o/", "http://user@h/", "http://a b/",
        "http://[::1]/", "xhttp://h/"}) {
    EXPECT_FALSE(ParseHttpUrl(text)) << text;
  }
  EXPECT_TRUE(ParseHttpUrl("http://h:65535/"));
}

TEST(ParseHttpUrl, EscapesOnlyWhatCannotStandInARequestLine) {
  std::optional<HttpUrl> url = ParseHttpUrl("http://h/p?name=A%20B&x=+=?#1\r\nHost: evil\x7f\xe9");
  ASSERT_TRUE(url);
  EXPECT_EQ(url->target, "/p?name=A%20B&x=+=?%231%0D%0AHost:%20evil%7F%E9");
}

TEST(BuildPostRequest, IsAnHttp10PostWithThreeHeadersAndNoBody) {
  std::optional<HttpUrl> url = ParseHttpUrl("http://lists.example.org/webpost.php?a=1");
  ASSERT_TRUE(url);
  EXPECT_EQ(BuildPostRequest(*url),
            "POST /webpost.php?a=1 HTTP/1.0\r\n"
            "Host: lists.example.org\r\n"
            "Accept: text/html, */*\r\n"
            "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
            "\r\n");
}

TEST(BuildPostRequest, HostHeaderNamesOnlyANonDefaultPort) {
  EXPECT_EQ(webpost::HostHeaderValue(*ParseHttpUrl("http://h:80/")), "h");
  EXPECT_EQ(webpost::HostHeaderValue(*ParseHttpUrl("http://h:8080/")), "h:8080");
}

TEST(EncodeSpaces, ReplacesEverySpaceAndNothingElse) {
  EXPECT_EQ(webpost::EncodeSpaces("A B C"), "A%20B%20C");
  EXPECT_EQ(webpost::EncodeSpaces("  x  "), "%20%20x%20%20");
  const std::string untouched = "a&b=c?d%e#f+g\t\xe9";
  EXPECT_EQ(webpost::EncodeSpaces(untouched), untouched);
  EXPECT_EQ(webpost::EncodeSpaces(""), "");
}

}  // namespace
