#include "platform/HomePath.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* path;
    const char* home;
    const char* shown;
};

class HomePath : public testing::TestWithParam<Case> {};

TEST_P(HomePath, ShortensOnlyALeadingHomeFolder)
{
    const Case& c = GetParam();
    EXPECT_EQ(Platform::abbreviatingHome(QString::fromUtf8(c.path), QString::fromUtf8(c.home)),
              QString::fromUtf8(c.shown));
}

INSTANTIATE_TEST_SUITE_P(
    Paths, HomePath,
    testing::Values(Case{"/home/ada/web", "/home/ada", "~/web"},  //
                    Case{"/home/ada", "/home/ada", "~"},          //
                    Case{"/home/ada/", "/home/ada", "~/"},        //
                    Case{"/home/ada/web", "/home/ada/", "~/web"}, // a home given with a trailing slash
                    Case{"/home/adam/web", "/home/ada", "/home/adam/web"},
                    Case{"/srv/home/ada/x", "/home/ada", "/srv/home/ada/x"}, // home further in
                    Case{"/srv/home-of-x/a", "/srv/home", "/srv/home-of-x/a"},
                    Case{"/home/ada/w/home/ada", "/home/ada", "~/w/home/ada"}, // only the front
                    Case{"/etc/hosts", "/", "/etc/hosts"},                     // a home at the root
                    Case{"/etc/hosts", "", "/etc/hosts"},                      //
                    Case{"", "/home/ada", ""},                                 //
                    Case{"/home/ada/caf\xc3\xa9", "/home/ada", "~/caf\xc3\xa9"}));

} // namespace
