// tenvar: shares one Internet connection among the machines of a small office.
#include <string>
#include <vector>

#include "service/startup.h"

int main(int argc, char** argv) {
  return tenvar::service::RunTenvar(std::vector<std::string>(argv + 1, argv + argc));
}
