// RGSimpleXML (being written)
