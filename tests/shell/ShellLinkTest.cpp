#include "shell/ShellLink.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(ShellLinkTest, ANewLinkIsEnabledWithNothingInIt) {
    TDizShellLink link;
    EXPECT_TRUE(link.Enabled());
    EXPECT_FALSE(link.OnChange);
    EXPECT_TRUE(link.Links().empty());
    EXPECT_EQ(link.Version(), "TDizShellLink V2.3");
    link.SetVersion("other");
    EXPECT_EQ(link.Version(), "TDizShellLink V2.3");
    link.SetEnabled(false);
    EXPECT_FALSE(link.Enabled());
}

TEST(ShellLinkTest, TheOwnerFreesTheLinkAndTheLinkNoneOfItsObjects) {
    auto linked = std::make_unique<sys::TObject>();
    auto owner = std::make_unique<sys::TComponent>(nullptr);
    auto* link = new TDizShellLink(owner.get());
    link->Links().push_back(linked.get());
    ASSERT_EQ(owner->Components().size(), 1u);
    // The owner frees the link (else the leak check fails), and the object is still the
    // caller's to free (else this is a second free).
    owner.reset();
    linked.reset();
}

}  // namespace
