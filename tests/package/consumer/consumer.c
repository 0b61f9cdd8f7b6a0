/* A host of the installed plug-in library: asks it for OsaInit in-process and
 * passes when the answer offers the kernel's methods. */
#include <osa_plugin.h>
#include <stdio.h>
#include <string.h>

static const char* NoAnswer(const char* request) {
  (void)request;
  return NULL;
}

int main(void) {
  static const char* const kArguments[] = {"consumer", NULL};
  OSA_Client_CmdInit(1, kArguments, NoAnswer);
  const char* answer = OSA_Client_CmdParser(
      "{ \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Client_OsaInit\", "
      "\"params\" : { \"context\" : 1, \"versionRequired\" : 3 }, \"id\" : 1 }");
  if (answer == NULL || strstr(answer, "\"OSA_Client_TaskRegisterRead\"") == NULL) {
    fprintf(stderr, "no kernel methods in the answer: %s\n", answer ? answer : "(none)");
    return 1;
  }
  puts(answer);
  return 0;
}
