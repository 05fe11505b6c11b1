// Writes the sample media next to the sample bus files (not yet built).
int main() { return 0; }
