// Never compiled: the project is only configured.
int main() {
    return 0;
}
