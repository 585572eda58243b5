// A disk's identity: the same bytes give the same identity wherever they are
// found; another size or another first MiB gives another.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "carver/device_identity.h"
#include "helpers.h"

using namespace carver_test;

namespace {

std::string identity_of(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY);
    std::string id = carver::identity::device_identity(fd);
    ::close(fd);
    return id;
}

TEST(DeviceIdentity, FollowsTheBytesNotThePath) {
    TempDir dir;
    Bytes img = random_bytes(3u << 20, 4);
    write_file(dir / "a", img);
    write_file(dir / "b", img);
    const std::string a = identity_of(dir / "a");
    EXPECT_EQ(a.substr(0, a.find(':')), std::to_string(img.size()));
    EXPECT_EQ(a.substr(a.find(':'), 3), ":-:");
    EXPECT_EQ(a.size() - a.rfind(':') - 1, 16u);
    EXPECT_EQ(identity_of(dir / "b"), a);

    img[(2u << 20) + 5] ^= 1;  // past the first MiB: the same disk, written to
    write_file(dir / "b", img);
    EXPECT_EQ(identity_of(dir / "b"), a);
    img[1000] ^= 1;
    write_file(dir / "b", img);
    EXPECT_NE(identity_of(dir / "b"), a);
    img[1000] ^= 1;
    img.push_back(0);
    write_file(dir / "b", img);
    EXPECT_NE(identity_of(dir / "b"), a);
    EXPECT_EQ(carver::identity::device_identity(-1), "");
}

}  // namespace
