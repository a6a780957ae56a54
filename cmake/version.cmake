# Writes the header that tells the program its version and commit (run at every build, so a
# new commit reaches --version without configuring again; the header is only rewritten when
# its text changes, so nothing recompiles otherwise). Arguments: -DVERSION=X.Y.Z
# -DSOURCE_DIR=... -DOUTPUT=.../vorl_version.h. A source tree outside git gets no commit.
set(commit "")
set(modified 0)
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse --short=12 HEAD
                  OUTPUT_VARIABLE commit RESULT_VARIABLE failed
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(failed)
    set(commit "")
  else()
    # Changes to tracked files since that commit: the build is not exactly the commit.
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} status --porcelain
                            --untracked-files=no
                    OUTPUT_VARIABLE changes RESULT_VARIABLE failed
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT failed AND NOT changes STREQUAL "")
      set(modified 1)
    endif()
  endif()
endif()
string(REPLACE "." ";" parts "${VERSION}")
list(APPEND parts 0 0 0)
list(GET parts 0 major)
list(GET parts 1 minor)
list(GET parts 2 patch)
set(text "// Made by cmake/version.cmake at build time; not kept in the source tree.
#pragma once
#define VORL_VERSION \"${VERSION}\"
#define VORL_VERSION_MAJOR ${major}
#define VORL_VERSION_MINOR ${minor}
#define VORL_VERSION_PATCH ${patch}
#define VORL_COMMIT \"${commit}\"
#define VORL_COMMIT_MODIFIED ${modified}
")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
else()
  set(old "")
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUTPUT} "${text}")
endif()
