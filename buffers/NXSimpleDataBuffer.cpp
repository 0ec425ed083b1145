// NXSimpleDataBuffer (being written)
