// The one-copy mutex as copies in other processes (here: other threads) and
// someone squatting its name see it.
#include "platform/OneCopyLockWin32.h"

#include "common/Utf.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <string>
#include <thread>

using namespace keystrip;
using keystrip::platform::LockState;
using keystrip::platform::Win32OneCopyLock;

namespace {

std::u16string TestName() {
    return u"Global\\ZolvaKeystripTest." +
           U16(std::to_string(GetCurrentProcessId()) + "." +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
}

// A mutex owns recursively: a second taker must be another thread.
platform::LockResult TakeElsewhere(const std::u16string& name) {
    platform::LockResult result;
    std::thread([&] { result = Win32OneCopyLock(name).Take(); }).join();
    return result;
}

class Squatter {
public:
    // An object of the name, made with this security descriptor.
    Squatter(const std::u16string& name, const wchar_t* sddl, bool event = false) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                         &descriptor, nullptr));
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
        const auto* wide = reinterpret_cast<const wchar_t*>(name.c_str());
        handle_ = event ? CreateEventW(&attributes, TRUE, FALSE, wide)
                        : CreateMutexW(&attributes, TRUE, wide);
        LocalFree(descriptor);
    }
    Squatter(const Squatter&) = delete;
    Squatter& operator=(const Squatter&) = delete;
    ~Squatter() {
        if (handle_)
            CloseHandle(handle_);
    }
    bool Made() const { return handle_ != nullptr; }

private:
    HANDLE handle_ = nullptr;
};

TEST(OneCopyLockWin32Test, OneCopyHoldsItUntilItEnds) {
    const std::u16string name = TestName();
    {
        Win32OneCopyLock first(name);
        ASSERT_EQ(first.Take().State, LockState::Taken);
        EXPECT_EQ(first.Take().State, LockState::Taken); // asking again changes nothing
        EXPECT_EQ(TakeElsewhere(name).State, LockState::HeldByAnother);
    }
    EXPECT_EQ(TakeElsewhere(name).State, LockState::Taken);
}

struct SquatRow {
    const char* label;
    const wchar_t* sddl;
    bool event;
    const char* why; // part of the reason given
};

class SquattedLockTest : public testing::TestWithParam<SquatRow> {};

TEST_P(SquattedLockTest, IsNotTakenForAnotherCopy) {
    const std::u16string name = TestName();
    Squatter squatter(name, GetParam().sddl, GetParam().event);
    ASSERT_TRUE(squatter.Made());
    const platform::LockResult result = TakeElsewhere(name);
    EXPECT_EQ(result.State, LockState::Unguarded);
    EXPECT_NE(Utf16ToUtf8(result.Why).find(GetParam().why), std::string::npos)
        << Utf16ToUtf8(result.Why);
    EXPECT_NE(result.Why.find(name), std::u16string::npos);
}

// Wine keeps the owner a descriptor names, so a user's object can be made
// here; a non-administrator could not name Administrators as the owner.
INSTANTIATE_TEST_SUITE_P(
    Table, SquattedLockTest,
    testing::Values(SquatRow{"OwnedByAUser", L"O:S-1-5-21-1-2-3-1001D:(A;;GA;;;WD)", false,
                             "held by an object of S-1-5-21-1-2-3-1001"},
                    SquatRow{"RefusingEveryone", L"O:BAD:P(D;;GA;;;WD)", false, "cannot be opened"},
                    SquatRow{"AnotherKindOfObject", L"O:BAD:(A;;GA;;;WD)", true,
                             "cannot be opened"}),
    [](const testing::TestParamInfo<SquatRow>& info) { return std::string(info.param.label); });

} // namespace
