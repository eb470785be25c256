#include "app/StartUp.h"

int main(int argc, char** argv) {
    return velmora::StartUp(argc, argv);
}
