#include "app/CorvaneApp.h"

int main(int argc, char** argv) {
  CCorvaneApp app;
  return app.InitInstance(argc, argv);
}
