// linestat: placeholder entry point until the status tool lands.
int main() { return 1; }
