// Entry point of the unit tests.
#include "run_selected_tests.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return runSelectedTests();
}
