// A stored address taken apart for a request: scheme, host, port, and the
// path with its query, with and without a scheme.
#include <gtest/gtest.h>

#include <string>

#include "web/address.h"

TEST(AddressTest, a_stored_address_splits_into_scheme_host_port_and_target_without_the_fragment) {
    struct Split {
        const char *address;
        int tls, port;
        const char *host, *target;
    } const cases[] = {
        {"reelbox.test/watch/abc?x=1#t=5", 0, 80, "reelbox.test", "/watch/abc?x=1"},
        {"127.0.0.1:8080", 0, 8080, "127.0.0.1", "/"},
        {"HTTPS://H.test?q=1#f", 1, 443, "H.test", "/?q=1"},
        {"https://h.test:65535/a/b.mp4?s=http://x#/y", 1, 65535, "h.test", "/a/b.mp4?s=http://x"},
    };
    AddressParts parts;
    for (const Split &c : cases) {
        ASSERT_EQ(1, split_stored_address(c.address, 512, &parts)) << c.address;
        EXPECT_EQ(c.tls, parts.tls) << c.address;
        EXPECT_EQ(c.port, parts.port) << c.address;
        EXPECT_STREQ(c.host, parts.host);
        EXPECT_STREQ(c.target, parts.target);
    }
    for (const char *address : {"", "https://", "https://:443/x", "https://[::1]/x", "u@h.test/x", "h.test:0/",
                                "h.test:/x", "h.test:000080/", "h.test:8a/", "a:1:2/", "h\x01.test/"})
        EXPECT_EQ(0, split_stored_address(address, 512, &parts)) << address;
    const std::string host(256, 'h');
    EXPECT_EQ(0, split_stored_address(host.c_str(), 512, &parts));
    EXPECT_EQ(1, split_stored_address(host.c_str() + 1, 512, &parts));
    EXPECT_EQ(0, split_stored_address("h.test/x", 8, &parts)) << "no NUL within the field";
}
