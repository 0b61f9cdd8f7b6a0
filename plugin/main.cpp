// Process entry of the plug-in.
int main() { return 0; }
