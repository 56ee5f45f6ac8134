// Replacing a file as a whole: the new content takes the old file's place at once, readable by
// its owner only; the old file stays when anything fails; nothing is left open or behind.
#include "platform/atomic_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace kelvaston::platform {
namespace {

TEST(AtomicFile, ReplacesTheFileWholeAndPrivatelyOrNotAtAll) {
    test::TempDir dir;
    const auto file = dir / "backup.reg";
    test::WriteFile(file, "old");
    ::chmod(file.c_str(), 0644);
    const mode_t umask = ::umask(0);
    int reused = -1;
    {
        AtomicFile replacement(file);
        ASSERT_TRUE(replacement.Open() && replacement.Write("new ") && replacement.Write("text"));
        EXPECT_EQ(test::ReadFile(file), "old");
        ASSERT_TRUE(replacement.Commit());
        // The descriptor the commit closed is the next one handed out; it must outlive this.
        reused = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    }
    ::umask(umask);
    {
        AtomicFile abandoned(file);  // never committed: the old file stays, the temporary one goes
        ASSERT_TRUE(abandoned.Open() && abandoned.Write("half"));
    }
    EXPECT_NE(::fcntl(reused, F_GETFD), -1) << "a descriptor was closed twice";
    ::close(reused);
    EXPECT_EQ(test::ReadFile(file), "new text");
    struct stat st {};
    ::stat(file.c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
    AtomicFile nowhere(dir / "missing" / "x.reg");
    EXPECT_FALSE(nowhere.Open() || nowhere.Write("x") || nowhere.Commit());
    EXPECT_EQ(nowhere.Error(), std::errc::no_such_file_or_directory);
}

}  // namespace
}  // namespace kelvaston::platform
