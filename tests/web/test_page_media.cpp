// The media today's pages declare: addresses resolved against the page,
// text decoding, the tolerant page scanner and its preference, names, media
// types and the kinds of answer.  Inputs are copied into buffers of exactly
// their size, so that a sanitizer build sees any read past the length given.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "web/page_media.h"

namespace {

std::vector<char> exact(const std::string &s) { return std::vector<char>(s.begin(), s.end()); }

// A literal with every byte it holds, NULs included.
template <size_t N>
std::string bytes(const char (&s)[N]) {
    return std::string(s, N - 1);
}

// Runs a writer function on exact copies; returns its text, or "FAIL" when
// it returned -1 (after checking that it left "" behind).
template <typename F>
std::string run(F f, const std::string &a, uint32_t cap = 512) {
    std::vector<char> in = exact(a);
    std::vector<char> out(cap ? cap : 1, 'X');
    int n = f(in.data(), (uint32_t)in.size(), out.data(), cap);
    if (n < 0) {
        if (cap) {
            EXPECT_EQ(out[0], 0) << a;
        }
        return "FAIL";
    }
    EXPECT_LT((uint32_t)n, cap);
    EXPECT_EQ(strlen(out.data()), (size_t)n) << a;   // holds only for texts without NUL
    return std::string(out.data(), (size_t)n);
}

std::string resolve(const std::string &base, const std::string &reference, uint32_t cap = 512) {
    std::vector<char> b = exact(base);
    return run([&](const char *r, uint32_t rn, char *out, uint32_t c) {
        return resolve_address(b.data(), (uint32_t)b.size(), r, rn, out, c);
    }, reference, cap);
}

std::vector<std::string> addresses(const DeclaredMedia &m) {
    std::vector<std::string> list;
    for (int k = 0; k < m.count; k++) list.push_back(m.candidates[k].address);
    return list;
}

DeclaredMedia scan(const std::string &page, const std::string &address = "https://site.test/watch/page?id=1") {
    std::vector<char> p = exact(page), a = exact(address);
    DeclaredMedia m;
    memset(&m, 0x5A, sizeof m);
    int count = find_declared_media(p.data(), (uint32_t)p.size(), a.data(), (uint32_t)a.size(), &m);
    EXPECT_EQ(count, m.count);
    EXPECT_TRUE(m.count == 0 ? m.chosen == -1 : m.chosen >= 0 && m.chosen < m.count);
    return m;
}

std::string chosen(const DeclaredMedia &m) { return m.chosen < 0 ? "" : m.candidates[m.chosen].address; }

int answer(const std::string &head, const std::string &type) {
    std::vector<char> h = exact(head), t = exact(type);
    return media_answer_kind(h.data(), (uint32_t)h.size(), t.data(), (uint32_t)t.size());
}

// --------------------------------------------------------------- addresses

TEST(PageMedia, ResolvesReferencesLikeABrowser) {
    // The reference resolution examples every resolver must meet, normal and
    // abnormal, then what pages do beyond them.
    const char *base = "http://a/b/c/d;p?q";
    const char *cases[][2] = {
        {"g", "http://a/b/c/g"},          {"./g", "http://a/b/c/g"},       {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"},             {"//g", "http://g/"},            {"?y", "http://a/b/c/d;p?y"},
        {"g?y", "http://a/b/c/g?y"},      {"#s", "http://a/b/c/d;p?q"},    {"g#s", "http://a/b/c/g"},
        {";x", "http://a/b/c/;x"},        {"", "http://a/b/c/d;p?q"},      {".", "http://a/b/c/"},
        {"./", "http://a/b/c/"},          {"..", "http://a/b/"},           {"../g", "http://a/b/g"},
        {"../..", "http://a/"},           {"../../g", "http://a/g"},       {"../../../g", "http://a/g"},
        {"/./g", "http://a/g"},           {"/../g", "http://a/g"},         {"g.", "http://a/b/c/g."},
        {"..g", "http://a/b/c/..g"},      {"./../g", "http://a/b/g"},      {"./g/.", "http://a/b/c/g/"},
        {"g/./h", "http://a/b/c/g/h"},    {"g/../h", "http://a/b/c/h"},    {"g;x=1/../y", "http://a/b/c/y"},
        {"g?y/./x", "http://a/b/c/g?y/./x"},
        // Scheme and host in lower case, the rest as written; spaces and
        // bytes above ASCII encoded; tabs and line breaks dropped.
        {"HTTPS://CDN.Example:8443/A/B.MP4", "https://cdn.example:8443/A/B.MP4"},
        {"  clip one.mp4\n", "http://a/b/c/clip%20one.mp4"},
        {"v/\xC3\xA9.mp4?q=\"1\"", "http://a/b/c/v/%C3%A9.mp4?q=%221%22"},
        {"/x\n/y\t.mp4", "http://a/x/y.mp4"},
        {"\\\\cdn.test\\v.mp4", "http://cdn.test/v.mp4"},
        {"//[2001:DB8::1]:8080/v", "http://[2001:db8::1]:8080/v"},
        {"https://u:p@h.test/v", "https://u:p@h.test/v"},
        // Only web addresses with a host are offered.
        {"blob:https://a/1234", "FAIL"},  {"data:video/mp4;base64,AAAA", "FAIL"},
        {"javascript:play()", "FAIL"},    {"ftp://a/v.mp4", "FAIL"},       {"http:g", "FAIL"},
        {"http:///v", "FAIL"},            {"http://a b/v", "FAIL"},         {"http://a:80x/v", "FAIL"},
        {"http://[zz]/v", "FAIL"},        {"http://\xC3\xA9.test/v", "FAIL"}, {"http://a%41/v", "FAIL"},
    };
    for (const auto &c : cases) EXPECT_EQ(resolve(base, c[0]), c[1]) << c[0];
    // A base that is no web address only resolves absolute references.
    EXPECT_EQ(resolve("about:blank", "v.mp4"), "FAIL");
    EXPECT_EQ(resolve("about:blank", "https://h/v.mp4"), "https://h/v.mp4");
    EXPECT_EQ(resolve("https://h", "v.mp4"), "https://h/v.mp4");

    // At most 511 bytes, whatever room the caller has; a small cap fails cleanly.
    std::string path(511 - strlen("http://h/"), 'p');
    EXPECT_EQ(resolve("http://h/", path, 4096), "http://h/" + path);
    EXPECT_EQ(resolve("http://h/", path + "p", 4096), "FAIL");
    EXPECT_EQ(resolve("http://h/", std::string(5000, 'p')), "FAIL");
    EXPECT_EQ(resolve("http://h/", "a", 10), "FAIL");
    EXPECT_EQ(resolve("http://h/", "a", 11), "http://h/a");
    // Dot segments may bring a long reference back within bounds.
    EXPECT_EQ(resolve("http://h/", std::string(1500, 'x') + "/../v.mp4"), "http://h/v.mp4");
}

TEST(PageMedia, TellsManifestAddresses) {
    const char *manifests[] = {"https://h/live/master.m3u8", "https://h/a.M3U8?token=1", "https://h/d/stream.mpd#t=1",
                               "https://h/f.f4m", "https://h/v.ism/Manifest(format=m3u8-aapl)", "/rel/x.mpd"};
    const char *media[] = {"https://h/v.mp4?list=a.m3u8", "https://h/m3u8/v.mp4", "https://h.m3u8/", "https://h/x.mpd4"};
    for (const char *a : manifests) EXPECT_EQ(address_is_manifest(a, (uint32_t)strlen(a)), 1) << a;
    for (const char *a : media) EXPECT_EQ(address_is_manifest(a, (uint32_t)strlen(a)), 0) << a;
}

// ---------------------------------------------------------------- decoding

TEST(PageMedia, DecodesEntitiesAndJsonEscapes) {
    const char *entities[][2] = {
        {"a=1&amp;b=2&lt;&gt;&quot;&#39;&apos;", "a=1&b=2<>\"''"},
        {"&#233;&#xE9;&#X1F600;&#x2F", "\xC3\xA9\xC3\xA9\xF0\x9F\x98\x80/"},
        {"&unknown; &amp &#; &#xZZ; a&b &", "&unknown; &amp &#; &#xZZ; a&b &"},
        {"&#0;&#xD800;&#99999999999;", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"&AMP;&nbsp;", "&\xC2\xA0"},
    };
    for (const auto &c : entities) EXPECT_EQ(run(decode_html_entities, c[0]), c[1]) << c[0];
    const char *json[][2] = {
        {"https:\\/\\/h\\/v.mp4", "https://h/v.mp4"},
        {"\\\"q\\\" \\\\ \\n\\t", "\"q\" \\ \n\t"},
        {"\\u00e9\\u20AC\\ud83d\\ude00", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"\\ud83d x \\ude00", "\xEF\xBF\xBD x \xEF\xBF\xBD"},
        {"\\x \\u12 \\", "\\x \\u12 \\"},
    };
    for (const auto &c : json) EXPECT_EQ(run(decode_json_escapes, c[0]), c[1]) << c[0];
    // The output never passes its capacity: exactly full fails, one more fits.
    EXPECT_EQ(run(decode_html_entities, "abc&amp;", 4), "FAIL");
    EXPECT_EQ(run(decode_html_entities, "abc&amp;", 5), "abc&");
    EXPECT_EQ(run(decode_json_escapes, "\\u20ac", 3), "FAIL");
    EXPECT_EQ(run(decode_json_escapes, "x", 0), "FAIL");
}

// ------------------------------------------------------------------- pages

TEST(PageMedia, ReadsVideoAndSourceTagsAndPrefersTheHighest) {
    const std::string page =
        "<!doctype html><html><head>\n"
        "<base href=\"/media/\">\n"
        "<!-- <video src=\"commented.mp4\"></video> -->\n"
        "<script>var s = '<video src=\"in-script.mp4\">';</script>\n"
        "</head><body>\n"
        "<VIDEO width=100% height=\"100%\"\n  Controls data-src='lazy.webm'\n  src=\"blob:https://site.test/1234\">\n"
        "  <source src=low.mp4 type=video/mp4 label=\"360p\">\n"
        "  <Source SRC=\"hd.webm\" type='video/webm' res=\"720\">\n"
        "  <source src=\"hd.mp4?a=1&amp;b=2\" type=\"video/mp4\" data-res=720>\n"
        "  <source src=\"/abs/hd.mp4?a=1&b=2\" title=\"HD 720p\">\n"
        "  <source src=\"low.mp4\" height=\"1080\">\n"
        "  <source src=\"live.m3u8\">\n"
        "  <source src=\"/dash\" type=\"application/dash+xml\">\n"
        "  <source src=\"\"><source src=\"#frag\">\n"
        "</VIDEO>\n"
        "<picture><source src=\"picture.jpg\"></picture>\n"
        "<audio src=\"https:\\/\\/cdn.test\\/a.mp3\"></audio>\n";
    DeclaredMedia m = scan(page);
    std::vector<std::string> expected = {
        "https://site.test/media/lazy.webm", "https://site.test/media/low.mp4", "https://site.test/media/hd.webm",
        "https://site.test/media/hd.mp4?a=1&b=2", "https://site.test/abs/hd.mp4?a=1&b=2", "https://cdn.test/a.mp3"};
    EXPECT_EQ(addresses(m), expected);
    EXPECT_EQ(m.manifestsDropped, 2);
    EXPECT_EQ(m.overflow, 0);
    // low.mp4 came twice: kept once, with the larger height declared.
    EXPECT_EQ(m.candidates[0].height, 0);   // "100%" is the layout's, not the video's
    EXPECT_EQ(m.candidates[1].height, 1080);
    EXPECT_EQ(m.candidates[2].height, 720);
    EXPECT_EQ(m.candidates[4].height, 720);
    EXPECT_STREQ(m.candidates[0].extension, "webm");
    EXPECT_STREQ(m.candidates[5].extension, "mp3");
    EXPECT_EQ(chosen(m), "https://site.test/media/low.mp4");

    // Without the 1080 duplicate the 720s tie: mp4 before webm, then page order.
    std::string tied = page;
    tied.replace(tied.find(" height=\"1080\""), 14, "");
    EXPECT_EQ(chosen(scan(tied)), "https://site.test/media/hd.mp4?a=1&b=2");
}

TEST(PageMedia, ReadsStructuredDataAndMetaInOrderOfKind) {
    const std::string page =
        "<html><head>"
        "<script type=\"application/ld+json\">\n"
        "{\"@context\":\"https://schema.org\",\"@graph\":[{\"@type\":\"WebPage\",\"name\":\"x\"},\n"
        " {\"@type\":[\"Clip\",\"VideoObject\"],\"contentUrl\":\"https:\\/\\/cdn.test\\/v\\/a.mp4?x=1&amp;y=2\","
        "  \"height\":\"1080\",\"thumbnail\":{\"@type\":\"ImageObject\",\"contentUrl\":\"https://cdn.test/t.jpg\"}},\n"
        " [{\"height\":480,\"contentUrl\":\"//cdn.test/v/b.webm\",\"@type\":\"schema:VideoObject\"}]]}\n"
        "</script>\n"
        "<script type='application/ld+json; charset=utf-8'>{\"@type\":\"VideoObject\",\"embedUrl\":\"https://cdn.test/e\"},"
        "{\"@type\":\"VideoObject\",\"contentUrl\":\"https://cdn.test/v/c.mp4\",\"height\":720}</script>\n"
        "<meta property=\"og:video\" content=\"https://cdn.test/player.html\">\n"
        "<meta property=\"og:video\" content=\"https://cdn.test/og.mp4\">\n"
        "<meta property=\"og:video:secure_url\" content=\"https://cdn.test/secure?id=3\">\n"
        "<meta property=\"og:video:type\" content=\"video/mp4\">\n"
        "<meta property=\"og:video\" content=\"https://cdn.test/embed?id=3\">\n"
        "<meta property=\"og:video:type\" content=\"text/html\">\n"
        "<meta name=\"twitter:player:stream\" content=\"https://cdn.test/tw?f=mp4\">\n"
        "</head><body><video src=\"tag.mp4\"></video></body></html>";
    DeclaredMedia m = scan(page);
    std::vector<std::string> expected = {
        "https://site.test/watch/tag.mp4", "https://cdn.test/v/a.mp4?x=1&y=2", "https://cdn.test/v/b.webm",
        "https://cdn.test/v/c.mp4",        "https://cdn.test/tw?f=mp4",        "https://cdn.test/secure?id=3",
        "https://cdn.test/og.mp4"};
    EXPECT_EQ(addresses(m), expected);
    EXPECT_EQ(m.candidates[1].source, MEDIA_FROM_JSON_LD);
    EXPECT_EQ(m.candidates[0].height, 0);   // "100%" is the layout's, not the video's
    EXPECT_EQ(m.candidates[1].height, 1080);
    EXPECT_EQ(m.candidates[2].height, 480);
    EXPECT_EQ(m.candidates[5].source, MEDIA_FROM_OG_SECURE);
    EXPECT_EQ(m.candidates[6].source, MEDIA_FROM_OG_VIDEO);
    EXPECT_EQ(chosen(m), "https://cdn.test/v/a.mp4?x=1&y=2");

    // og:video without a video type is kept only when its address says media.
    DeclaredMedia og = scan("<meta property=og:video content=https://h/watch?v=1>"
                            "<meta property=og:video content=https://h/v.MP4?s=1>");
    EXPECT_EQ(addresses(og), std::vector<std::string>{"https://h/v.MP4?s=1"});
    EXPECT_EQ(scan("<meta property=og:video content=https://h/watch?v=1>").chosen, -1);
}

TEST(PageMedia, ScannerKeepsItsBounds) {
    // A tag cut off by the end of the bytes, an unterminated quote, comment
    // or script: what came before is kept, nothing after is read.
    EXPECT_EQ(addresses(scan("<video src=a.mp4></video><video src=\"b.mp4\"")),
              std::vector<std::string>{"https://site.test/watch/a.mp4"});
    EXPECT_EQ(scan("<video src=\"a.mp4>").count, 0);
    EXPECT_EQ(scan("<!-- <video src=a.mp4>").count, 0);
    EXPECT_EQ(scan("<video src=a.mp4").count, 0);
    EXPECT_EQ(scan("<script type=application/ld+json>{\"@type\":\"VideoObject\",\"contentUrl\":\"v.mp4").count, 0);
    EXPECT_EQ(scan("<video src=a.mp4><").count, 1);
    EXPECT_EQ(scan("").count, 0);

    // NUL bytes are ordinary bytes: they neither end the page nor an address.
    std::string with_nul = bytes("<p>\0\0</p><video src=\"a\0b.mp4\"><source src=c.mp4>");
    EXPECT_EQ(addresses(scan(with_nul)),
              (std::vector<std::string>{"https://site.test/watch/a%00b.mp4", "https://site.test/watch/c.mp4"}));

    // An over-long address is dropped, the next one kept.
    DeclaredMedia long_one = scan("<video src=\"/" + std::string(600, 'x') + ".mp4\"><source src=ok.mp4>");
    EXPECT_EQ(addresses(long_one), std::vector<std::string>{"https://site.test/watch/ok.mp4"});

    // More candidates than the list holds: the first 16 kept, the rest counted.
    std::string many = "<video>";
    for (int k = 0; k < 20; k++) many += "<source src=v" + std::to_string(k) + ".mp4>";
    DeclaredMedia full = scan(many);
    EXPECT_EQ(full.count, MEDIA_CANDIDATES_MAX);
    EXPECT_EQ(full.overflow, 4);
    EXPECT_EQ(std::string(full.candidates[15].address), "https://site.test/watch/v15.mp4");

    // Nesting far past what is searched is stepped over, and what follows
    // is still read; a page address that is no web address leaves only
    // absolute addresses.
    std::string deep = "<script type=application/ld+json>[" + std::string(5000, '[') + std::string(5000, ']') +
                       ",{\"@type\":\"VideoObject\",\"contentUrl\":\"https://h/deep.mp4\"}]</script>";
    EXPECT_EQ(addresses(scan(deep)), std::vector<std::string>{"https://h/deep.mp4"});
    // A NUL inside a bare value is part of it, not a place to stop moving.
    EXPECT_EQ(addresses(scan(bytes("<script type=application/ld+json>[A\0, {\"@type\":\"VideoObject\","
                                   "\"contentUrl\":\"https://h/n.mp4\"}]</script>"))),
              (std::vector<std::string>{"https://h/n.mp4"}));
    EXPECT_EQ(addresses(scan("<video src=rel.mp4><source src=https://h/abs.mp4>", "not an address")),
              std::vector<std::string>{"https://h/abs.mp4"});
}

// ------------------------------------------------------------------- names

TEST(PageMedia, ExtractsNames) {
    const char *dispositions[][2] = {
        {"attachment; filename=\"plain.mp4\"; filename*=UTF-8''caf%C3%A9%20clip.mp4", "caf\xC3\xA9 clip.mp4"},
        {"attachment; filename*=iso-8859-1'en'caf%E9.mp4; filename=x.mp4", "caf\xC3\xA9.mp4"},
        {"attachment;filename=bare.mp4 ", "bare.mp4"},
        {"inline; FILENAME=\"a \\\"quoted\\\"; name.webm\"", "a \"quoted\"; name.webm"},
        {"attachment; filename*=KOI8-R''%C1; filename=\"fallback.mp4\"", "fallback.mp4"},
        {"attachment; filename*=UTF-8''; filename=empty-star.mp4", "empty-star.mp4"},
        {"attachment", "FAIL"},
        {"attachment; filename=\"\"", "FAIL"},
        {"attachment; filename=\"unterminated.mp4", "unterminated.mp4"},
    };
    for (const auto &c : dispositions) EXPECT_EQ(run(name_from_content_disposition, c[0]), c[1]) << c[0];
    EXPECT_EQ(run(name_from_content_disposition, "attachment; filename=abcdef.mp4", 8), "FAIL");

    EXPECT_EQ(run(page_title, "<title>\n  A &amp;\t B&nbsp;&nbsp;C\n</title><meta property=og:title content=\"  \">"),
              "A & B C");
    EXPECT_EQ(run(page_title, "<title>T</title><meta property=\"og:title\" content=\"Caf&eacute; &#233; &lt;1&gt;\">"),
              "Caf&eacute; \xC3\xA9 <1>");
    EXPECT_EQ(run(page_title, "<body>no title<title>unclosed"), "unclosed");
    EXPECT_EQ(run(page_title, "<p>nothing</p>"), "FAIL");
    // A long title is cut at a whole character.
    EXPECT_EQ(run(page_title, "<title>ab\xC3\xA9</title>", 4), "ab");

    EXPECT_EQ(run(name_from_address, "https://h/path/My%20Clip%2x.mp4?x=1/y.mp4#f/z"), "My Clip%2x.mp4");
    EXPECT_EQ(run(name_from_address, "https://h/dir/"), "FAIL");
    EXPECT_EQ(run(name_from_address, "https://h.test"), "FAIL");
}

// ------------------------------------------------------------- media types

TEST(PageMedia, TellsExtensionsAndAnswers) {
    const char *extensions[][3] = {
        {"video/mp4; codecs=\"avc1\"", "https://h/x.webm", "mp4"}, {"VIDEO/QUICKTIME", "", "mov"},
        {"video/x-matroska", "", "mkv"}, {"audio/mpeg", "", "mp3"},  {"audio/mp4", "", "m4a"},
        {"application/ogg", "", "ogg"},  {"audio/x-wav", "", "wav"}, {"video/ogg", "", "ogv"},
        {"audio/opus", "", "opus"},      {"application/octet-stream", "https://h/a/v.M4V?x=.mp3#.wav", "m4v"},
        {"", "https://h/a.b/c", ""},     {"", "https://h.mp4", ""},  {"", "clip.oga", "oga"},
    };
    for (const auto &c : extensions)
        EXPECT_STREQ(media_extension(c[0], (uint32_t)strlen(c[0]), c[1], (uint32_t)strlen(c[1])), c[2]) << c[0] << c[1];
    EXPECT_STREQ(media_extension(nullptr, 0, nullptr, 0), "");

    std::string mp4("\0\0\0\x20" "ftypisom\0\0\0\0", 16);
    struct AnswerCase {
        std::string head;
        const char *type;
        int kind;
    } answers[] = {
        {mp4, "text/html", ANSWER_MEDIA},
        {mp4 + std::string("\0\0\0\x30pssh", 8), "video/mp4", ANSWER_PROTECTED},
        {"\x1A\x45\xDF\xA3\x01", "", ANSWER_MEDIA},
        {"OggS\0", "application/octet-stream", ANSWER_MEDIA},
        {"ID3\x04", "", ANSWER_MEDIA},
        {"fLaC", "", ANSWER_MEDIA},
        {bytes("RIFF\x24\0\0\0WAVEfmt "), "", ANSWER_MEDIA},
        {bytes("RIFF\x24\0\0\0AVI "), "", ANSWER_UNKNOWN},
        {"#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\nv.m3u8\n", "video/mp4", ANSWER_MANIFEST},
        {"\xEF\xBB\xBF #EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"k\",KEYFORMAT=\"identity\"\n", "", ANSWER_MANIFEST},
        {"#EXTM3U\n#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"skd://k\"\n", "", ANSWER_PROTECTED},
        {"#EXTM3U\n#EXT-X-SESSION-KEY:METHOD=AES-128,KEYFORMAT=\"com.example.drm\"\n", "", ANSWER_PROTECTED},
        {"<?xml version=\"1.0\"?>\n<!-- made -->\n<MPD xmlns=\"urn:mpeg:dash:schema:mpd:2011\">", "", ANSWER_MANIFEST},
        {"<MPD><Period><AdaptationSet><ContentProtection schemeIdUri=\"urn:uuid:EDEF8BA9-79D6-4ACE-A3C8-27DCD51D21ED\"/>",
         "", ANSWER_PROTECTED},
        {"<MPDX>", "", ANSWER_UNKNOWN},
        {"", "application/dash+xml", ANSWER_MANIFEST},
        {"", "Application/X-MpegURL; charset=utf-8", ANSWER_MANIFEST},
        {"  <!DOCTYPE html><html>", "video/mp4", ANSWER_PAGE},
        {"{\"error\":1}", "text/html; charset=utf-8", ANSWER_PAGE},
        {"\x47\x40\x11", "video/mp2t", ANSWER_MEDIA},
        {bytes("\x00\x01\x02"), "application/octet-stream", ANSWER_UNKNOWN},
    };
    for (const AnswerCase &c : answers) EXPECT_EQ(answer(c.head, c.type), c.kind) << c.head << " / " << c.type;
    EXPECT_EQ(media_answer_kind(nullptr, 0, nullptr, 0), ANSWER_UNKNOWN);
}

} // namespace
