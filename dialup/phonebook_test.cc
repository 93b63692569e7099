#include "dialup/phonebook.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/temp_dir.h"

namespace tenvar::dialup {
namespace {

TEST(Phonebook, DefaultEntryIsProviderOnlyWhenThePhonebookHasIt) {
  platform::TempDir peers;
  ::setenv("TENVAR_PPP_PEERS", peers.Path().c_str(), 1);
  peers.Write("office-isdn", "noauth\n");
  EXPECT_EQ(DefaultPhonebookEntry(), "");
  peers.Write("provider", "noauth\n");
  EXPECT_EQ(DefaultPhonebookEntry(), "provider");
  EXPECT_EQ(PhonebookEntries(), (std::vector<std::string>{"office-isdn", "provider"}));

  ::setenv("TENVAR_PPP_PEERS", peers.File("missing").c_str(), 1);
  EXPECT_TRUE(PhonebookEntries().empty());
  EXPECT_EQ(DefaultPhonebookEntry(), "");
  ::unsetenv("TENVAR_PPP_PEERS");
}

}  // namespace
}  // namespace tenvar::dialup
