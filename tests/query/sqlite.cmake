# The differential test compares the SQL engine with SQLite: a test
# dependency only (vekrun never links it).
find_package(SQLite3 REQUIRED)
target_link_libraries(${exe} PRIVATE SQLite::SQLite3)
