/* The plug-in's in-process entry points, as libosa_plugin.so exports them.
 * A host calls OSA_Client_CmdInit once, then hands every complete incoming
 * message to OSA_Client_CmdParser and sends back the text it returns. */
#ifndef OSA_PLUGIN_H
#define OSA_PLUGIN_H

#ifdef __cplusplus
extern "C" {
#endif

/* The host's side of a nested exchange: takes the text of a request of the
 * plug-in and returns the text of the debugger's answer (kept valid until
 * the next call), or null when there is none. */
typedef const char* (*JrSendFunction)(const char* request);

/* Sets the plug-in up once: binds the client methods, creates the outgoing
 * request service around `send` and registers the kernel callbacks. Later
 * calls do nothing. */
void OSA_Client_CmdInit(int argc, const char* const* argv, JrSendFunction send);

/* Answers one complete incoming message; the response text stays valid until
 * the next response is made. */
const char* OSA_Client_CmdParser(const char* text);

#ifdef __cplusplus
}
#endif

#endif /* OSA_PLUGIN_H */
