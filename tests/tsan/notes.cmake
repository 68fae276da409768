# The ThreadSanitizer build (scripts/sanitize.sh tsan): every target made
# after this links qtsyncnotes first, the notes on the hand-offs Qt makes
# inside its library (qtsyncnotes.cpp), and sees VELA_TSAN defined.
add_library(qtsyncnotes SHARED ${CMAKE_CURRENT_LIST_DIR}/qtsyncnotes.cpp)
target_link_libraries(qtsyncnotes PRIVATE Qt6::Core)
link_libraries($<BUILD_INTERFACE:qtsyncnotes>)
add_compile_definitions(VELA_TSAN)
