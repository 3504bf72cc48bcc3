#!/bin/sh
# Runs a GoogleTest program of the project (the command given) with a filter that
# selects none of its tests: it must fail with 1, naming the filter, as it does when
# ctest runs a test by a name that is not in it.
filter=NoSuchSuite.NoSuchTest
said=$("$@" "--gtest_filter=$filter" 2>&1)
status=$?
echo "$said"
if [ "$status" -ne 1 ]; then
  echo "FAILED: a filter that selects no test ended with $status, not 1"
  exit 1
fi
case "$said" in
*"\"$filter\""*) ;;
*) echo "FAILED: a filter that selects no test was not named"; exit 1 ;;
esac
