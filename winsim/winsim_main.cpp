// Placeholder: the winsim program (init, show, export) comes with the machine directory code.
int main() { return 1; }
