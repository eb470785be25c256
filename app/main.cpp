#include "app/StartUp.h"

int main(int argc, char** argv) {
    velmora::StartUp(argc, argv);
}
