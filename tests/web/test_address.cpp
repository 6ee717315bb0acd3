// A stored address taken apart for a request: scheme, host, port, and the
// path with its query, for the demo sites' addresses without a scheme and
// for links kept with theirs.
#include <gtest/gtest.h>

#include <string>

#include "web/address.h"

namespace {

struct Split {
    const char *address;
    int tls, has_scheme, port;
    const char *host, *target;
};

TEST(AddressTest, stored_addresses_split_into_scheme_host_port_and_target_without_the_fragment) {
    const Split cases[] = {
        {"reelbox.test/watch/abc?x=1#t=5", 0, 0, 80, "reelbox.test", "/watch/abc?x=1"},
        {"reelbox.test", 0, 0, 80, "reelbox.test", "/"},
        {"127.0.0.1:8080/v.flv", 0, 0, 8080, "127.0.0.1", "/v.flv"},
        {"http://h.test:65535", 0, 1, 65535, "h.test", "/"},
        {"HTTPS://H.test?q=1#f", 1, 1, 443, "H.test", "/?q=1"},
        {"https://h.test:8443/a/b.mp4?s=1&t=http://x#y", 1, 1, 8443, "h.test", "/a/b.mp4?s=1&t=http://x"},
        {"https://h.test#/not/a/path", 1, 1, 443, "h.test", "/"},
    };
    for (const Split &c : cases) {
        SCOPED_TRACE(c.address);
        AddressParts parts;
        ASSERT_EQ(1, split_stored_address(c.address, 512, &parts));
        EXPECT_EQ(c.tls, parts.tls);
        EXPECT_EQ(c.has_scheme, parts.has_scheme);
        EXPECT_EQ(c.port, parts.port);
        EXPECT_STREQ(c.host, parts.host);
        EXPECT_STREQ(c.target, parts.target);
    }

    // A host of 255 characters is taken, one of 256 is not.
    AddressParts parts;
    std::string host(255, 'h');
    EXPECT_EQ(1, split_stored_address(("https://" + host + "/x").c_str(), 512, &parts));
    EXPECT_EQ(host, parts.host);
    EXPECT_EQ(0, split_stored_address(("https://" + host + "h/x").c_str(), 512, &parts));

    const std::string refused[] = {
        "", "https://", "http:///x", "https://:443/x", "https://?q", "https://[::1]:443/x",
        "https://u:p@h.test/x", "u@h.test/x", "http://h.test:0/", "http://h.test:65536/",
        "http://h.test:/x", "http://h.test:8a/", "http://h.test:000080/", "http://a:1:2/",
        "http://h\x01.test/", "http://h .test/", "http://h\xc3\xa9.test/",
    };
    for (const std::string &address : refused)
        EXPECT_EQ(0, split_stored_address(address.c_str(), 512, &parts)) << address;

    // The text must end within its field.
    const char field[9] = "h.test/x";
    EXPECT_EQ(0, split_stored_address(field, 8, &parts));
    EXPECT_EQ(1, split_stored_address(field, 9, &parts));
}

}  // namespace
