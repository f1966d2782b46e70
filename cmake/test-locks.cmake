# Tests that must not run beside each other under `ctest -j`: the streaming-server
# launcher stops every process of this user named serverd.exe, and the example server
# listens on port 8880, so the launcher's test and the example server's test would stop
# each other's servers. A resource lock makes ctest run them one after the other. The
# tests are those gtest_discover_tests finds after the build, so the lock is set by a file
# that ctest reads after theirs (a name that is not there is passed over).
if(BUILD_TESTING)
  file(WRITE ${CMAKE_BINARY_DIR}/corvane_test_locks.cmake
       "set_tests_properties(StreamingLauncher.ChecksConfiguresStopsAndStarts\n"
       "  StreamingServer.ExampleServesRangesOfTheSharedFolderReadOnlyAndEndsWithTheDaemon\n"
       "  PROPERTIES RESOURCE_LOCK corvane_streaming_server)\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/corvane_test_locks.cmake)
endif()
