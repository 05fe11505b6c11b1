// Shared fetch-and-locate step of the mode page decoders.
#include "scsi/modepages/modepage_fetch.h"

int fetch_mode_page(device_address unit, uint8_t page_code, uint8_t allocation_length, mode_data* data)
{
    data->bytes.fill(0);
    data->page_offset = MODE_DATA_SIZE;
    int status = scsi_mode_sense(unit, page_code, allocation_length, data->bytes.data());
    if (status != 0)
        return status;
    data->page_offset = 4 + data->bytes[3];
    return 0;
}

const uint8_t* locate_mode_page(const mode_data* data, int last_byte)
{
    // A block descriptor length of up to 255 can place the page, or its
    // later fields, past the end of the buffer: such a page is not decoded.
    if (last_byte < 0 || data->page_offset + last_byte >= MODE_DATA_SIZE)
        return nullptr;
    return data->bytes.data() + data->page_offset;
}
