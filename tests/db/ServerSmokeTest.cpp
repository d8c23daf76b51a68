#include <gtest/gtest.h>

#include "TestDatabase.h"

// Proves the throwaway server of scripts/test.sh works: a fresh database from the template has PostGIS.
TEST(TestServer, FreshDatabaseHasPostGIS) {
    TTestDatabase db;
    EXPECT_NE(db.Scalar("SELECT postgis_version()").find("3."), std::string::npos);
    db.Exec("CREATE TABLE t(x int); INSERT INTO t VALUES (1), (2);");
    EXPECT_EQ(db.Scalar("SELECT sum(x) FROM t"), "3");
}
