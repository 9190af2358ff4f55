#include "analysis/UrlText.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

namespace {

std::vector<std::size_t> Holding(const TUrlText& urls, std::string_view site) {
    std::vector<std::size_t> found;
    urls.ForEachHolding(site, [&](std::size_t index) { found.push_back(index); });
    return found;
}

// A URL of exactly `length` bytes that ends in `tail`.
std::string UrlOfLength(std::size_t length, const std::string& tail) {
    std::string url = "http://filler.test/";
    url.resize(length - tail.size(), 'p');
    return url + tail;
}

// The first block is filled to its last byte, so that one URL ends right at its end and the
// next starts a new block; a URL too long for what a block has left starts another one.
class UrlTextAcrossBlocks : public ::testing::Test {
protected:
    static constexpr std::size_t kPerUrl = 1024; // with its NUL
    static constexpr std::size_t kFirstBlockUrls = TUrlText::kBlockBytes / kPerUrl;

    void SetUp() override {
        for (std::size_t i = 0; i + 1 < kFirstBlockUrls; ++i)
            urls_.Add(UrlOfLength(kPerUrl - 1, "/x.gif"));
        urls_.Add(UrlOfLength(kPerUrl - 1, "/END.Test")); // its NUL is the block's last byte
        urls_.Add("end.test/starts-block-two");
        urls_.Add("http://Second.Test/a.gif");
        // Fill block two to 10 bytes short, then add a URL that must go to block three.
        const std::size_t used = 26 + 25;
        const std::size_t left = TUrlText::kBlockBytes - used;
        urls_.Add(UrlOfLength(left - 10 - 1, "/y.gif"));
        urls_.Add("http://third.test/longer-than-ten-bytes");
    }

    TUrlText urls_;
};

TEST_F(UrlTextAcrossBlocks, FindsEachUrlWhereverItsBlockEnds) {
    const std::size_t last = kFirstBlockUrls - 1;
    EXPECT_EQ(urls_.Count(), kFirstBlockUrls + 4);
    EXPECT_EQ(Holding(urls_, "end.test"), (std::vector<std::size_t>{last, last + 1}));
    EXPECT_EQ(Holding(urls_, "second.test"), (std::vector<std::size_t>{last + 2}));
    EXPECT_EQ(Holding(urls_, "third.test"), (std::vector<std::size_t>{last + 4}));
    EXPECT_EQ(Holding(urls_, "/y.gif"), (std::vector<std::size_t>{last + 3}));
    EXPECT_EQ(Holding(urls_, "x.gif").size(), kFirstBlockUrls - 1);
    EXPECT_EQ(Holding(urls_, "").size(), urls_.Count());
    EXPECT_EQ(Holding(urls_, "nowhere"), std::vector<std::size_t>{});
    // Nothing matches across the end of one URL and the start of the next.
    EXPECT_EQ(Holding(urls_, std::string("end.test\0end", 12)), std::vector<std::size_t>{});
    EXPECT_EQ(Holding(urls_, std::string("gif\0http", 8)), std::vector<std::size_t>{});
}

// URLs read from the cache hold no NUL, but a site may: it then matches only a URL that holds
// the same bytes, NUL included.
TEST(UrlText, SiteWithNulMatchesOnlyUrlsHoldingIt) {
    TUrlText urls;
    urls.Add("http://a.test/");
    urls.Add(std::string("http://a\0b.test/", 16));
    urls.Add("b.test/");
    const std::string site("a\0b", 3);
    EXPECT_EQ(Holding(urls, site), (std::vector<std::size_t>{1}));
    EXPECT_EQ(Holding(urls, std::string("/\0b", 3)), std::vector<std::size_t>{});
    EXPECT_EQ(Holding(urls, std::string(1, '\0')), (std::vector<std::size_t>{1}));
}

} // namespace
