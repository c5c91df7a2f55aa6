// A connection string's password never reaches an error, however the string
// is broken: libpq quotes pieces of strings it cannot read.
#include "backends/postgres/conninfo_secrets.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "backends/postgres/connection.h"
#include "backends/postgres/pg_errors.h"
#include "platform/com/com_error.h"

namespace varnolt::postgres {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct BrokenString {
  const char* conninfo;
  const char* secret;  // what must never show
  const char* still_said;  // what the error still tells
};

const BrokenString kBrokenStrings[] = {
    {"host=127.0.0.1 port=1 password=Secret Word-77", "Word-77", "missing \"=\""},
    {"postgresql://u:Uri%zzSecret-66@/db", "zzSecret-66", "percent-encoded"},
    {"host=127.0.0.1 password='Quoted-Secret-55", "Quoted-Secret-55", "unterminated quoted string"},
    {"postgresql://u:Bracket-Secret-44@[::1/db", "Bracket-Secret-44", "IPv6"},
    {"password=Typo-Secret-33 hots=db", "Typo-Secret-33", "invalid connection option"},
};

TEST(ConninfoSecretsTest, MalformedStringsNeverShowTheirPassword) {
  for (const BrokenString& broken : kBrokenStrings) {
    SCOPED_TRACE(broken.conninfo);
    EXPECT_TRUE(HoldsPassword(broken.conninfo));
    try {
      Connection::Open(broken.conninfo);
      ADD_FAILURE() << "connected";
    } catch (const ComError& error) {
      EXPECT_EQ(kPgUnavailable, error.number());
      EXPECT_THAT(error.description(), Not(HasSubstr(broken.secret)));
      EXPECT_THAT(error.description(), HasSubstr("malformed"));
      EXPECT_THAT(error.description(), HasSubstr(broken.still_said));
    }
  }
}

TEST(ConninfoSecretsTest, AReadablePasswordIsHiddenInWhatLibpqSays) {
  EXPECT_FALSE(HoldsPassword("host=db.example dbname=varnolt"));
  EXPECT_TRUE(HoldsPassword("postgresql://u:pw@db.example/varnolt"));
  EXPECT_EQ("", MalformedConnectionString("host=db.example password='a b'"));
  EXPECT_EQ("rejected *** for u", WithoutPassword("rejected s3cr3t for u", "user=u password=s3cr3t"));
  EXPECT_EQ("rejected s3cr3t", WithoutPassword("rejected s3cr3t", "user=u"));
}

}  // namespace
}  // namespace varnolt::postgres
