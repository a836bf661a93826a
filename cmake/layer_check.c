/* Empty: the layer checks link a module library whole into a DLL of nothing else. */
