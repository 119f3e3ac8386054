#include "export/WipeSecret.h"

#include "tests/export/QtPrinting.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

// The run wipes its copy of the password after connecting; the window's field shares those
// characters and must still show what the operator typed.
TEST(WipeSecretTest, EmptiesItsOwnCopyAndLeavesASharedOneAlone)
{
    const QString field = QStringLiteral("segredo").repeated(3);
    QString shared = field;
    WipeSecret(shared);
    EXPECT_TRUE(shared.isEmpty());
    EXPECT_EQ(field, QStringLiteral("segredosegredosegredo"));

    QString own = field;
    own.detach();
    WipeSecret(own);
    EXPECT_TRUE(own.isEmpty());
    EXPECT_EQ(field, QStringLiteral("segredosegredosegredo"));
}

} // namespace
} // namespace korvane
