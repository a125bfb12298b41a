# The flags every target of this project compiles with, set on each target
# (never on the directory, so that a project building this one inside its own
# build keeps its own flags for its own targets).

# The method's figures and pixels are defined by IEEE double arithmetic done
# exactly as written: no fused multiply-add, no fast-math reassociation.
set(DEMOSAIC_EXACT_FLAGS -ffp-contract=off -fno-fast-math)

if(DEMOSAIC_SANITIZE)
  # Any report fails the run: no recovery, so a test cannot pass over one.
  # GCC leaves float-cast-overflow out of "undefined"; the fusion converts
  # doubles to integers, so it is named.
  set(DEMOSAIC_SANITIZER_FLAGS -fsanitize=address,undefined,float-cast-overflow
      -fno-sanitize-recover=all)
endif()

# demosaic_target_flags(TARGET): warnings, exact arithmetic and, in the
# sanitizer and fuzzing builds, their instrumentation.
function(demosaic_target_flags target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic ${DEMOSAIC_EXACT_FLAGS})
  if(DEMOSAIC_SANITIZE)
    target_compile_options(${target} PRIVATE ${DEMOSAIC_SANITIZER_FLAGS} -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE ${DEMOSAIC_SANITIZER_FLAGS})
  endif()
  if(DEMOSAIC_FUZZ)
    # Coverage feedback for the fuzzer from all of the project's own code; the
    # sanitizer runtime provides the hooks to the programs that are not
    # fuzzers.
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endfunction()
